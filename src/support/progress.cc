#include "support/progress.h"

#include <stdio.h>
#include <time.h>
#include <unistd.h>

#include "support/text.h"

namespace nsfmend {
namespace {

const int64_t kRedrawNs = 200000000;  // 0.2 s

int64_t nowNs() {
    struct timespec ts;
    if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0) return 0;
    return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

}  // namespace

Progress::Progress()
    : shown_(isatty(STDERR_FILENO) == 1),
      sharedTerminal_(isatty(STDOUT_FILENO) == 1),
      startNs_(nowNs()) {}

Progress::~Progress() { clear(); }

void Progress::draw(const char *text) {
    // \r and erase-to-end: one line, redrawn in place.
    (void)fprintf(stderr, "\r%s\033[K", text);
    (void)fflush(stderr);
    drawn_ = true;
}

void Progress::item(long k, long n, const char *name) {
    if (!shown_) return;
    char text[256];
    // The name's tail is what tells databases apart; keep the line short.
    (void)snprintf(text, sizeof text, "database %ld of %ld: %.180s", k, n, name);
    if (sharedTerminal_) {
        (void)fflush(stdout);
        (void)fprintf(stderr, "%s\n", text);
        return;
    }
    draw(text);
}

void Progress::bytes(uint64_t done, uint64_t total) {
    if (!shown_) return;
    const int64_t now = nowNs();
    if (done < total && now - lastDrawNs_ < kRedrawNs) return;
    lastDrawNs_ = now;
    const double seconds = (double)(now - startNs_) / 1e9;
    const double rate = seconds > 0 ? (double)done / seconds : 0;
    char left[32] = "--:--";
    if (rate > 0 && total >= done) {
        const long secs = (long)((double)(total - done) / rate);
        (void)snprintf(left, sizeof left, "%ld:%02ld", secs / 60, secs % 60);
    }
    const int percent = total > 0 ? (int)(done * 100 / total) : 100;
    char text[160];
    (void)snprintf(text, sizeof text, "%3d%%  %s of %s  %s/s  %s left", percent,
                   sizeText((double)done, "B").c_str(), sizeText((double)total, "B").c_str(),
                   sizeText(rate, "B").c_str(), left);
    draw(text);
}

void Progress::clear() {
    if (!drawn_) return;
    (void)fprintf(stderr, "\r\033[K");
    (void)fflush(stderr);
    drawn_ = false;
}

}  // namespace nsfmend
