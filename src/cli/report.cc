// The report of a check: its judgement for monitoring, the text form, and
// the standard output a form for programs writes its document to.
#include "cli/report.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string_view>

#include "support/durable.h"
#include "support/text.h"
#include "translog/log_chain.h"

namespace nsfmend {
namespace {

// Where a form for programs writes its document: the real standard output,
// once the run's own printing goes to standard error.
struct Diversion {
    bool active = false;
    int documentFd = -1;
    bool delivered = false;   // a document was written (or tried)
    const RunSettings *settings = nullptr;
};
Diversion diversion;

// The whole text to the document's descriptor; false after the line on
// standard error that says why it could not be.
bool writeDocument(const std::string &text) {
    diversion.delivered = true;
    const int error = diversion.documentFd < 0 ? EBADF
                                               : writeAll(diversion.documentFd, text.data(), text.size());
    if (error == 0) return true;
    (void)fprintf(stderr, "nsfmend: cannot write standard output: %s\n", systemText(error).c_str());
    return false;
}

int monitoringStatus(State state) { return (int)state; }

// A whole number of seconds: digits only, at most 18 of them.
bool readSeconds(const char *text, int64_t fallback, int64_t *seconds) {
    const std::string_view digits = text;
    if (digits.empty()) {
        *seconds = fallback;
        return true;
    }
    if (digits.size() > 18 || !allDigits(digits)) return false;
    int64_t value = 0;
    for (char c : digits) value = value * 10 + (c - '0');
    *seconds = value;
    return true;
}

std::string firstFailure(const Findings &findings, size_t *fails) {
    std::string first;
    *fails = 0;
    for (const Finding &f : findings) {
        if (f.mark != Mark::kFail) continue;
        if ((*fails)++ == 0) first = f.subject + ": " + f.detail;
    }
    return first;
}

}  // namespace

std::string utcTime(time_t when) {
    struct tm utc = {};
    char text[32] = {};
    if (gmtime_r(&when, &utc) == nullptr ||
        strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc) == 0)
        return "1970-01-01T00:00:00Z";
    return text;
}

const char *stateName(State state) {
    switch (state) {
        case State::kOk: return "ok";
        case State::kWarning: return "warning";
        case State::kCritical: return "critical";
        case State::kUnknown: return "unknown";
    }
    return "unknown";
}

Judgement judgeReport(const Report &report, const RunSettings &s) {
    Judgement j;
    size_t fails = 0;
    const std::string first = firstFailure(report.findings, &fails);
    if (!report.judged) {
        j.state = State::kUnknown;
        j.reasons.push_back(fails > 0 ? first : report.verdict);
        return j;
    }
    if (fails > 0) {
        j.state = State::kCritical;
        j.reasons.push_back(first);
        if (fails > 1)
            j.reasons.push_back(std::to_string(fails - 1) + (fails == 2 ? " more failure" : " more failures"));
    }
    const std::optional<ArchiveCounts> &counts = report.counts;
    if (!counts || counts->newestFrom == ArchivedAt::kUnknown) return j;
    j.ageKnown = true;
    // A record stamped ahead of this clock says archiving runs: age 0.
    j.age = report.finished > counts->newestArchived ? (int64_t)(report.finished - counts->newestArchived) : 0;
    const bool critical = j.age > s.critSeconds;
    if (!critical && j.age <= s.warnSeconds) return j;
    j.reasons.push_back("newest extent " + extentName(counts->newest) + " archived " + std::to_string(j.age) +
                        " s ago, over the " + (critical ? "critical" : "warning") + " limit of " +
                        std::to_string(critical ? s.critSeconds : s.warnSeconds) + " s");
    if (critical)
        j.state = State::kCritical;
    else if (j.state == State::kOk)
        j.state = State::kWarning;
    return j;
}

int deliverReport(Report report, const RunSettings &s) {
    report.started = s.started;
    report.finished = time(nullptr);
    switch (s.outputForm) {
        case OutputForm::kText: break;
        case OutputForm::kJson:
            return writeDocument(jsonDocument(report, judgeReport(report, s), s)) ? report.exitStatus : 1;
        case OutputForm::kNagios: {
            const Judgement j = judgeReport(report, s);
            return writeDocument(nagiosLine(report, j, s)) ? monitoringStatus(j.state)
                                                           : monitoringStatus(State::kUnknown);
        }
    }
    printFindings(report.findings);
    printf("Verdict: %s\n", report.verdict.c_str());
    return report.exitStatus;
}

int reportNotChecked(const RunSettings &s, const std::string &subject, const std::string &why) {
    Report report;
    report.command = s.operation;
    report.findings.add(Mark::kFail, subject, why);
    report.verdict = "nothing was checked";
    report.exitStatus = 1;
    report.judged = false;
    return deliverReport(report, s);
}

OutputForm outputFormOf(int argc, char **argv) {
    OutputForm form = OutputForm::kText;
    for (int i = 1; i < argc; i++) {
        if (!isStartsWith("OUTPUT=", argv[i])) continue;
        const std::string_view value = argv[i] + strlen("OUTPUT=");
        form = value == "json" ? OutputForm::kJson : value == "nagios" ? OutputForm::kNagios : OutputForm::kText;
    }
    return form;
}

void divertStandardOutput(const RunSettings *settings) {
    diversion.active = true;
    diversion.settings = settings;
    (void)fflush(stdout);
    diversion.documentFd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    // Without a standard error the run's lines go nowhere, never into the
    // document.
    if (dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) {
            (void)dup2(null, STDOUT_FILENO);
            (void)close(null);
        }
    }
}

bool outputDiverted() { return diversion.active; }

int finishDivertedOutput(int result) {
    (void)fflush(stdout);  // the run's lines on standard error: they cannot fail the check
    if (diversion.delivered) return result;  // with its own status when it could not be written
    return reportNotChecked(*diversion.settings, "run", "ended before its check; standard error says why");
}

std::string readOutputSettings(RunSettings *s) {
    const std::string_view output = s->output;
    if (output.empty() || output == "text")
        s->outputForm = OutputForm::kText;
    else if (output == "json")
        s->outputForm = OutputForm::kJson;
    else if (output == "nagios")
        s->outputForm = OutputForm::kNagios;
    else
        return "The value of OUTPUT= must be text, json or nagios: " + std::string(output);
    if (!readSeconds(s->warnAge, kDefaultWarnAge, &s->warnSeconds))
        return "The value of WARN= must be a whole number of seconds: " + std::string(s->warnAge);
    if (!readSeconds(s->critAge, kDefaultCritAge, &s->critSeconds))
        return "The value of CRIT= must be a whole number of seconds: " + std::string(s->critAge);
    return "";
}

}  // namespace nsfmend
