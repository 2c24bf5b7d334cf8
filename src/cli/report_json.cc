// The JSON form: one document a program reads. The only place that includes
// the JSON library: it is slow to compile.
//
// The project uses no exceptions: the library is built to abort where it
// would throw, and the one call that could (writing text that is not UTF-8)
// is told to put U+FFFD in place of each invalid byte instead.
#define JSON_NOEXCEPTION 1
#include <nlohmann/json.hpp>

#include "cli/report.h"
#include "translog/log_chain.h"

namespace nsfmend {
namespace {

// Keys in the order they are set, for a reader who looks at the document.
using Json = nlohmann::ordered_json;

const char *markName(Mark mark) {
    switch (mark) {
        case Mark::kOk: return "ok";
        case Mark::kFail: return "fail";
        case Mark::kNote: return "note";
    }
    return "note";
}

const char *archivedFromName(ArchivedAt from) {
    switch (from) {
        case ArchivedAt::kRecord: return "archive record";
        case ArchivedAt::kModified: return "modification time";
        case ArchivedAt::kUnknown: break;
    }
    return nullptr;
}

Json countsObject(const ArchiveCounts &c) {
    Json counts = Json::object();
    counts["extents"] = c.extents;
    counts["bytes"] = c.bytes;
    counts["missing"] = c.missing;
    counts["size_differs"] = c.sizeDiffers;
    counts["sha256_differs"] = c.sha256Differs;
    counts["gaps"] = c.gaps;
    return counts;
}

Json newestObject(const ArchiveCounts &c, const Judgement &j) {
    if (!c.hasNewest) return nullptr;
    Json newest = Json::object();
    newest["number"] = c.newest;
    newest["name"] = extentName(c.newest);
    const char *from = archivedFromName(c.newestFrom);
    newest["archived"] = from != nullptr ? Json(utcTime(c.newestArchived)) : Json(nullptr);
    newest["archived_from"] = from != nullptr ? Json(from) : Json(nullptr);
    newest["age_seconds"] = j.ageKnown ? Json(j.age) : Json(nullptr);
    return newest;
}

}  // namespace

std::string jsonDocument(const Report &report, const Judgement &j, const RunSettings &s) {
    Json doc = Json::object();
    doc["schema"] = 1;
    doc["command"] = report.command;
    if (!report.checkedRun.empty()) doc["checked_run"] = report.checkedRun;
    doc["verdict"] = report.verdict;
    doc["exit_status"] = report.exitStatus;
    doc["state"] = stateName(j.state);
    doc["reasons"] = j.reasons;
    doc["started"] = utcTime(report.started);
    doc["finished"] = utcTime(report.finished);
    Json findings = Json::array();
    for (const Finding &f : report.findings) {
        Json finding = Json::object();
        finding["subject"] = f.subject;
        finding["mark"] = markName(f.mark);
        finding["text"] = f.detail;
        // What a FAIL stops: the whole run, or one database while the
        // others are recovered.
        if (f.mark == Mark::kFail) finding["scope"] = scopeText(f.scope);
        findings.push_back(std::move(finding));
    }
    doc["findings"] = std::move(findings);
    if (report.command == "VERIFY" && report.judged) {
        doc["counts"] = report.counts ? countsObject(*report.counts) : Json(nullptr);
        doc["newest_extent"] = report.counts ? newestObject(*report.counts, j) : Json(nullptr);
        Json limits = Json::object();
        limits["warn"] = s.warnSeconds;
        limits["crit"] = s.critSeconds;
        doc["age_limits"] = std::move(limits);
    }
    return doc.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace nsfmend
