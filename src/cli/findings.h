// What a check found, kept as data: the plan of a run (OPT=CHECK and the
// run's own stop lines) and the archive check (OPT=VERIFY) collect their
// findings here, and each form of output says the same findings in its own
// way. A finding is certain (ok, FAIL) or a note that says who decides.
#ifndef NSFMEND_CLI_FINDINGS_H
#define NSFMEND_CLI_FINDINGS_H

#include <stddef.h>

#include <string>
#include <vector>

namespace nsfmend {

enum class Mark { kOk, kFail, kNote };

// How far a FAIL reaches: the whole run, which then stops before its first
// change; or one item of it (a database of a media recovery), which fails
// while the run goes on with the others and ends with exit status 1.
enum class Scope { kRun, kItem };

// "run", "item": the scope as a machine-readable form names it.
const char *scopeText(Scope scope);

// "ok", "FAIL", "note": the mark as the text form prints it.
const char *markText(Mark mark);

struct Finding {
    Mark mark = Mark::kOk;
    std::string subject;
    std::string detail;
    // What a run prints when it stops on this finding: the line the
    // operation itself prints on that failure (with its own leading blank);
    // empty: the finding's own line.
    std::string runLine;
    // Of a FAIL: what it stops. Other marks leave it kRun.
    Scope scope = Scope::kRun;
};

class Findings {
public:
    void add(Mark mark, std::string subject, std::string detail, std::string runLine = "");
    // At a position already collected, for a summary that goes before the
    // findings it sums up.
    void insert(size_t at, Finding finding);

    // A FAIL that fails one item only (Scope::kItem).
    void addItemFailure(std::string subject, std::string detail, std::string runLine);

    // No finding is a FAIL.
    bool holds() const;
    // No FAIL stops the whole run: it starts, and fails only the items the
    // FAILs of Scope::kItem name (when holds() is false).
    bool proceeds() const;
    size_t size() const { return items_.size(); }
    std::vector<Finding>::const_iterator begin() const { return items_.begin(); }
    std::vector<Finding>::const_iterator end() const { return items_.end(); }

private:
    std::vector<Finding> items_;
};

// The text form: one line each, "<mark> <subject>: <detail>", the mark
// padded to four columns.
void printFindings(const Findings &findings);
// A run that does not start: each FAIL of the whole run's, its run line
// (else its own line).
void printStopLines(const Findings &findings);

}  // namespace nsfmend

#endif
