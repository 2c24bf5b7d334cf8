// The monitoring form: one line, "NSFMEND <command> <STATE> - <summary>",
// then "|" and the numbers as performance data, label=value[unit];warn;crit;min.
// The exit status is the state's: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN.
#include <stdint.h>

#include <algorithm>
#include <string>

#include "cli/report.h"
#include "translog/log_chain.h"

namespace nsfmend {
namespace {

// One line whose first "|" starts the performance data: a path or text that
// holds a line end, another control byte or a "|" shows "?" there.
std::string oneLine(std::string text) {
    std::replace_if(text.begin(), text.end(),
                    [](char c) { return (unsigned char)c < 0x20 || c == 0x7f || c == '|'; }, '?');
    return text;
}

std::string upper(std::string text) {
    for (char &c : text)
        if (c >= 'a' && c <= 'z') c = (char)(c - 'a' + 'A');
    return text;
}

std::string perf(const char *label, uint64_t value, const char *unit, const std::string &warn,
                 const std::string &crit) {
    return std::string(" ") + label + "=" + std::to_string(value) + unit + ";" + warn + ";" + crit + ";0";
}

std::string summary(const Report &report, const Judgement &j) {
    if (j.state != State::kOk) {
        std::string text;
        for (const std::string &reason : j.reasons) text += (text.empty() ? "" : "; ") + reason;
        return text;
    }
    std::string text = report.verdict;
    if (j.ageKnown)
        text += ", newest extent " + extentName(report.counts->newest) + " archived " + std::to_string(j.age) +
                " s ago";
    return text;
}

std::string performance(const Report &report, const Judgement &j, const RunSettings &s) {
    std::string data;
    if (report.counts) {
        const ArchiveCounts &c = *report.counts;
        data += perf("missing", c.missing, "", "", "0");
        data += perf("gaps", c.gaps, "", "", "0");
        data += perf("size_differs", c.sizeDiffers, "", "", "0");
        data += perf("sha256_differs", c.sha256Differs, "", "", "0");
        data += perf("extents", c.extents, "", "", "");
        data += perf("bytes", c.bytes, "B", "", "");
        if (j.ageKnown)
            data += perf("age", (uint64_t)j.age, "s", std::to_string(s.warnSeconds), std::to_string(s.critSeconds));
    }
    uint64_t fails = 0;
    uint64_t notes = 0;
    for (const Finding &f : report.findings) {
        fails += f.mark == Mark::kFail;
        notes += f.mark == Mark::kNote;
    }
    data += perf("failures", fails, "", "", "0");
    data += perf("notes", notes, "", "", "");
    return data;
}

}  // namespace

std::string nagiosLine(const Report &report, const Judgement &j, const RunSettings &s) {
    std::string line = "NSFMEND ";
    if (!report.command.empty()) line += oneLine(report.command) + " ";
    line += upper(stateName(j.state)) + " - " + oneLine(summary(report, j));
    if (report.judged) line += " |" + performance(report, j, s);
    return line + "\n";
}

}  // namespace nsfmend
