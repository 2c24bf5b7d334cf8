// What one check (OPT=CHECK, OPT=VERIFY) has to say, kept as data and said
// in the form OUTPUT= chose: the text a person reads (the default), one JSON
// document for a program, or one line and an exit status for a monitoring
// system. Every form says the same findings; the forms for programs also
// give the numbers behind them and a monitoring state that counts the age of
// the newest archived extent against WARN= and CRIT=.
//
// In a form for programs, standard output holds the document alone: the run
// sends everything else it prints (the banner, the runtime's lines, the
// usage text) to standard error from its start, and a run that ends before
// its check still writes a document that says so.
#ifndef NSFMEND_CLI_REPORT_H
#define NSFMEND_CLI_REPORT_H

#include <stdint.h>
#include <time.h>

#include <optional>
#include <string>
#include <vector>

#include "cli/driver.h"
#include "cli/findings.h"
#include "cli/verify_counts.h"

namespace nsfmend {

// The age of the newest archived extent past which a monitoring state warns,
// and turns critical: archiving that stopped shows within a day.
constexpr int64_t kDefaultWarnAge = int64_t{6} * 3600;
constexpr int64_t kDefaultCritAge = int64_t{24} * 3600;

struct Report {
    // "CHECK" or "VERIFY"; the OPT= value when the arguments asked for no check.
    std::string command;
    std::string checkedRun;  // OPT=CHECK: "media recovery", "recovery", "restore"
    Findings findings;
    std::string verdict;     // what the text form's "Verdict: " line goes on with
    int exitStatus = 0;      // the text form's
    // False when nothing could be judged: the arguments, a runtime that did
    // not start, a check that cannot be made without a change.
    bool judged = true;
    std::optional<ArchiveCounts> counts;  // OPT=VERIFY of an archive it could list
    time_t started = 0;
    time_t finished = 0;
};

// A monitoring system's four states, in its order of exit statuses.
enum class State { kOk, kWarning, kCritical, kUnknown };

// The report's state, and why it is not ok.
struct Judgement {
    State state = State::kOk;
    std::vector<std::string> reasons;
    bool ageKnown = false;
    int64_t age = 0;  // seconds from the newest extent's archiving to the report
};

Judgement judgeReport(const Report &report, const RunSettings &settings);

// Says the report in the run's form; the run's exit status in that form.
int deliverReport(Report report, const RunSettings &settings);
// A run in a form for programs whose arguments ask for no check it can make:
// a report that says why (subject, text) and judges nothing.
int reportNotChecked(const RunSettings &settings, const std::string &subject, const std::string &why);

// The form the last OUTPUT= argument names (text unless json or nagios),
// read before anything is printed.
OutputForm outputFormOf(int argc, char **argv);
// Sends standard output to standard error, keeping the real one for the
// document of `settings` (outputForm set; the rest read later).
void divertStandardOutput(const RunSettings *settings);
// The exit status of a run whose output was diverted: a document is written
// when none was (the run ended before its check). Otherwise `result`
// unchanged.
int finishDivertedOutput(int result);
bool outputDiverted();

// Reads OUTPUT=, WARN= and CRIT= into settings. Empty, or the line that says
// which value is wrong.
std::string readOutputSettings(RunSettings *settings);

// The pieces the forms share.
std::string utcTime(time_t when);  // RFC 3339: 2013-11-15T12:00:00Z
const char *stateName(State state);  // "ok", "warning", "critical", "unknown"

// The forms for programs (report_json.cc, report_nagios.cc): their text.
std::string jsonDocument(const Report &report, const Judgement &judgement, const RunSettings &settings);
std::string nagiosLine(const Report &report, const Judgement &judgement, const RunSettings &settings);

}  // namespace nsfmend

#endif
