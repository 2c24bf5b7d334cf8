#include "support/compare.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <memory>
#include <new>

#include "support/durable.h"
#include "support/sha256.h"
#include "support/sysfile.h"

namespace nsfmend {

int compareContents(int firstFd, int secondFd, ContentRelation *relation, Sha256 *firstDigest) {
    *relation = ContentRelation::kDifferent;
    struct stat firstSt, secondSt;
    if (fstat(firstFd, &firstSt) != 0 || fstat(secondFd, &secondSt) != 0) return lastError();
    if (!S_ISREG(firstSt.st_mode) || !S_ISREG(secondSt.st_mode) ||
        firstSt.st_size > secondSt.st_size)
        return 0;

    const size_t kPiece = 1u << 16;
    std::unique_ptr<char[]> a(new (std::nothrow) char[kPiece]);
    std::unique_ptr<char[]> b(new (std::nothrow) char[kPiece]);
    if (!a || !b) return ENOMEM;
    for (;;) {
        size_t gotFirst = 0, gotSecond = 0;
        int rc = readAll(firstFd, a.get(), kPiece, &gotFirst);
        if (rc == 0 && gotFirst > 0) rc = readAll(secondFd, b.get(), gotFirst, &gotSecond);
        if (rc != 0) return rc;
        if (gotFirst == 0) break;
        if (firstDigest != nullptr) firstDigest->update(a.get(), gotFirst);
        if (gotSecond != gotFirst || memcmp(a.get(), b.get(), gotFirst) != 0) return 0;
    }
    // Every byte of the first file matched; is there more of the second?
    char extra;
    size_t more = 0;
    int rc = readAll(secondFd, &extra, 1, &more);
    if (rc != 0) return rc;
    *relation = more == 0 ? ContentRelation::kIdentical : ContentRelation::kPrefix;
    return 0;
}

}  // namespace nsfmend
