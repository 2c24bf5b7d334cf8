#include "cli/findings.h"

#include <stdio.h>

#include <algorithm>

namespace nsfmend {
namespace {

void printFinding(const Finding &finding) {
    printf("%-4s %s: %s\n", markText(finding.mark), finding.subject.c_str(), finding.detail.c_str());
}

}  // namespace

const char *markText(Mark mark) {
    switch (mark) {
        case Mark::kOk: return "ok";
        case Mark::kFail: return "FAIL";
        case Mark::kNote: return "note";
    }
    return "note";
}

const char *scopeText(Scope scope) { return scope == Scope::kItem ? "item" : "run"; }

void Findings::addItemFailure(std::string subject, std::string detail, std::string runLine) {
    items_.push_back(Finding{Mark::kFail, std::move(subject), std::move(detail), std::move(runLine),
                             Scope::kItem});
}

void Findings::add(Mark mark, std::string subject, std::string detail, std::string runLine) {
    items_.push_back(Finding{mark, std::move(subject), std::move(detail), std::move(runLine)});
}

void Findings::insert(size_t at, Finding finding) {
    items_.insert(items_.begin() + (long)std::min(at, items_.size()), std::move(finding));
}

bool Findings::holds() const {
    return std::none_of(items_.begin(), items_.end(),
                        [](const Finding &f) { return f.mark == Mark::kFail; });
}

bool Findings::proceeds() const {
    return std::none_of(items_.begin(), items_.end(), [](const Finding &f) {
        return f.mark == Mark::kFail && f.scope == Scope::kRun;
    });
}

void printFindings(const Findings &findings) {
    for (const Finding &finding : findings) printFinding(finding);
}

void printStopLines(const Findings &findings) {
    for (const Finding &finding : findings) {
        if (finding.mark != Mark::kFail || finding.scope != Scope::kRun) continue;
        if (!finding.runLine.empty())
            printf("%s\n", finding.runLine.c_str());
        else
            printFinding(finding);
    }
}

}  // namespace nsfmend
