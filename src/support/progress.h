// Progress of long work, shown on standard error when, and only when, it is
// a terminal: a person watching sees how far the run is, while a log file or
// a pipe gets exactly the run's own output and nothing else.
#ifndef NSFMEND_SUPPORT_PROGRESS_H
#define NSFMEND_SUPPORT_PROGRESS_H

#include <stdint.h>

namespace nsfmend {

class Progress {
public:
    Progress();
    ~Progress();
    Progress(const Progress &) = delete;
    Progress &operator=(const Progress &) = delete;

    bool shown() const { return shown_; }
    // "database k of n: path". Redrawn in place while standard output goes
    // elsewhere; a line of its own when the run's lines share the terminal,
    // since they would run into a line drawn in place.
    void item(long k, long n, const char *name);
    // Percentage, rate and time left of a copy of total bytes; redrawn at
    // most a few times a second, so it costs nothing on a fast copy.
    void bytes(uint64_t done, uint64_t total);
    // Clears the progress line so the next output starts on a clean line.
    void clear();

private:
    void draw(const char *text);

    bool shown_;
    bool sharedTerminal_;
    bool drawn_ = false;
    int64_t startNs_;
    int64_t lastDrawNs_ = 0;
};

}  // namespace nsfmend

#endif
