// What an operation inside the program did: ok, a failure with an errno, or
// a failure with a status of the platform API, each failure with the text
// that explains it. The file layer below (sysfile.h, durable.h, copy.h)
// keeps its 0-or-errno results and the operations the program is known by
// keep theirs; everything between them and the two edges returns a Result.
// The words are chosen at the edges, each in one place: the command line
// prints them, the agent puts them in the caller's message buffer.
#ifndef NSFMEND_SUPPORT_RESULT_H
#define NSFMEND_SUPPORT_RESULT_H

#include <string>
#include <utility>

#include "notesapi/notesapi.h"

namespace nsfmend {

class Result {
public:
    enum class Kind { kOk, kSystem, kApi };

    Result() = default;
    static Result ok() { return Result(); }
    // 0 is ok; -1 is a failure the system gave no errno for.
    static Result system(int error, std::string text = "");
    // A failure no errno or status stands for (a refusal, a finding): -1
    // with its text, as the file layer gives -1 for a failure without one.
    static Result failure(std::string text) { return system(-1, std::move(text)); }
    // NOERROR is ok. The status is kept as the API returned it, flag bits
    // included; the API's text is looked up by its code.
    static Result api(STATUS status, std::string text = "");

    bool isOk() const { return kind_ == Kind::kOk; }
    Kind kind() const { return kind_; }
    // The errno of a system failure, else 0.
    int error() const { return kind_ == Kind::kSystem ? code_ : 0; }
    // The status of an API failure, else NOERROR.
    STATUS status() const { return kind_ == Kind::kApi ? (STATUS)code_ : (STATUS)NOERROR; }
    // The failing step's own words, when it has more to say than its code
    // (a refusal, a path that does not fit); may be empty.
    const std::string &text() const { return text_; }
    // The code's words: the system's text for an errno ("Unknown error." for
    // -1), the API's text for a status; empty when ok.
    std::string reason() const;
    // text() when there is one, else reason(): the one text a caller that
    // says a single thing gives.
    std::string explanation() const { return text_.empty() ? reason() : text_; }

private:
    Result(Kind kind, int code, std::string text) : kind_(kind), code_(code), text_(std::move(text)) {}
    Kind kind_ = Kind::kOk;
    int code_ = 0;
    std::string text_;
};

}  // namespace nsfmend

#endif
