// The extents of one folder as a chain: numbers, gaps, unreadable files and
// copies that disagree.
#include "translog/log_chain.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <utility>

#include "support/compare.h"
#include "support/path.h"
#include "support/raii.h"
#include "support/sysfile.h"
#include "support/text.h"
#include "translog/log_directory.h"

namespace nsfmend {
namespace {

// The longest digit string a 32-bit number takes.
constexpr size_t kMaxDigits = 10;

// One readable copy of an extent, held open while its group is compared.
struct OpenCopy {
    const std::string *name;
    UniqueFd fd;
    off_t size;
};

// Opens every copy of one extent; the ones that cannot serve go to bad.
void openCopies(const char *dir, const std::vector<const LogFile *> &copies,
                std::vector<OpenCopy> *opened, std::vector<BadExtentFile> *bad) {
    for (const LogFile *copy : copies) {
        // A FIFO would block the open and a device never end: never opened.
        if (copy->kind == LogFileKind::kNotRegular) {
            bad->push_back(BadExtentFile{copy->name, true, 0});
            continue;
        }
        UniqueFd fd(open(joinPath(dir, copy->name).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        if (!fd.valid()) {
            bad->push_back(BadExtentFile{copy->name, false, lastError()});
            continue;
        }
        struct stat st;
        if (fstat(fd.get(), &st) != 0) {
            bad->push_back(BadExtentFile{copy->name, false, lastError()});
            continue;
        }
        if (!S_ISREG(st.st_mode)) {
            bad->push_back(BadExtentFile{copy->name, true, 0});
            continue;
        }
        opened->push_back(OpenCopy{&copy->name, std::move(fd), st.st_size});
    }
}

// The copy the others are compared with: the longest, and of copies equally
// long the first name in byte order, so that what a check reports depends on
// the folder's content alone, never on the order of a listing.
size_t referenceCopy(const std::vector<OpenCopy> &copies) {
    size_t best = 0;
    for (size_t i = 1; i < copies.size(); ++i) {
        if (copies[i].size > copies[best].size ||
            (copies[i].size == copies[best].size && *copies[i].name < *copies[best].name))
            best = i;
    }
    return best;
}

// Every copy must be the reference copy or its start; the first that is
// neither is reported.
void compareCopies(DWORD number, std::vector<OpenCopy> *copies, ExtentChain *chain) {
    if (copies->size() < 2) return;
    const size_t longest = referenceCopy(*copies);
    for (size_t i = 0; i < copies->size(); ++i) {
        if (i == longest) continue;
        // The longest copy is read once per other copy, each time from its start.
        const int firstFd = (*copies)[i].fd.get();
        const int secondFd = (*copies)[longest].fd.get();
        ContentRelation relation = ContentRelation::kDifferent;
        int rc = lseek(secondFd, 0, SEEK_SET) < 0 ? lastError() : 0;
        if (rc == 0) rc = compareContents(firstFd, secondFd, &relation);
        if (rc != 0) {
            chain->bad.push_back(BadExtentFile{*(*copies)[i].name, false, rc});
        } else if (relation == ContentRelation::kDifferent) {
            chain->disagreeing.push_back(
                DisagreeingCopies{number, *(*copies)[longest].name, *(*copies)[i].name});
            return;
        }
    }
}

}  // namespace

bool parseExtentName(std::string_view name, DWORD *number, std::string_view *suffix) {
    if (name.size() < 1 || name[0] != 'S') return false;
    size_t digits = 0;
    while (1 + digits < name.size() && name[1 + digits] >= '0' && name[1 + digits] <= '9') ++digits;
    // Seven digits, or more only for a number that needs them: the one name
    // archivedName gives each number.
    if (digits < 7 || digits > kMaxDigits || (digits > 7 && name[1] == '0')) return false;
    if (name.substr(1 + digits, 4) != ".TXN") return false;
    unsigned long long value = 0;
    for (size_t i = 1; i <= digits; ++i) value = value * 10 + (unsigned long long)(name[i] - '0');
    if (value > 0xFFFFFFFFull) return false;
    *number = (DWORD)value;
    *suffix = name.substr(1 + digits + 4);
    return true;
}

bool isExtentOf(std::string_view name, ExtentNames names, const std::set<std::string> *suffixes,
                bool folder, DWORD *number) {
    std::string_view suffix;
    if (!parseExtentName(name, number, &suffix)) return false;
    if (names == ExtentNames::kBare && !suffix.empty()) return false;
    return suffixes == nullptr || (suffixes->count(std::string(suffix)) != 0 && !folder);
}

int checkExtentChain(const char *dir, ExtentNames names, ExtentChain *chain,
                     const std::set<std::string> *suffixes) {
    *chain = ExtentChain();
    std::vector<LogFile> files;
    const int listed = listLogDirectory(dir, &files);
    if (listed != 0) return listed;

    UniqueFd folder(suffixes != nullptr ? open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1);
    auto isFolder = [&](const LogFile &file) {
        struct stat st;
        return file.kind == LogFileKind::kNotRegular && folder.valid() &&
               fstatat(folder.get(), file.name.c_str(), &st, 0) == 0 && S_ISDIR(st.st_mode);
    };
    std::map<DWORD, std::vector<const LogFile *>> byNumber;
    for (const LogFile &file : files) {
        DWORD number = 0;
        if (!isExtentOf(file.name, names, suffixes, suffixes != nullptr && isFolder(file), &number)) {
            chain->others.push_back(file.name);
            continue;
        }
        byNumber[number].push_back(&file);
    }

    for (const auto &[number, copies] : byNumber) {
        if (!chain->numbers.empty() && number > chain->numbers.back() + 1)
            chain->missing.push_back(ExtentRange{chain->numbers.back() + 1, number - 1});
        chain->numbers.push_back(number);
        std::vector<OpenCopy> readable;
        openCopies(dir, copies, &readable, &chain->bad);
        compareCopies(number, &readable, chain);
    }
    return 0;
}

std::vector<ExtentRange> rangesNotIn(DWORD lo, DWORD hi, const std::vector<DWORD> &numbers) {
    std::vector<ExtentRange> out;
    // The next number not yet known to be present; 64 bits, as hi may be the
    // largest number a DWORD holds.
    uint64_t next = lo;
    for (DWORD number : numbers) {
        if (number < lo) continue;
        if (number > hi) break;
        if (number > next) out.push_back(ExtentRange{(DWORD)next, number - 1});
        next = uint64_t{number} + 1;
    }
    if (next <= hi) out.push_back(ExtentRange{(DWORD)next, hi});
    return out;
}

std::vector<ExtentRange> extentsNotIn(const ExtentChain &have, const ExtentChain &lacking) {
    std::vector<ExtentRange> out;
    size_t j = 0;
    for (DWORD number : have.numbers) {
        while (j < lacking.numbers.size() && lacking.numbers[j] < number) ++j;
        if (j < lacking.numbers.size() && lacking.numbers[j] == number) continue;
        if (!out.empty() && out.back().last + 1 == number)
            out.back().last = number;
        else
            out.push_back(ExtentRange{number, number});
    }
    return out;
}

uint64_t countExtents(const std::vector<ExtentRange> &ranges) {
    uint64_t count = 0;
    for (const ExtentRange &range : ranges) count += uint64_t{range.last - range.first} + 1;
    return count;
}

std::string describeExtentRanges(const std::vector<ExtentRange> &ranges, size_t limit) {
    std::string out;
    for (size_t i = 0; i < ranges.size(); ++i) {
        if (i == limit) {
            const std::vector<ExtentRange> rest(ranges.begin() + (long)i, ranges.end());
            out += ", and " + std::to_string(countExtents(rest)) + " more";
            break;
        }
        if (i > 0) out += ", ";
        out += extentName(ranges[i].first);
        if (ranges[i].last != ranges[i].first) out += " to " + extentName(ranges[i].last);
    }
    return out;
}

std::string extentName(DWORD number) { return archivedName("", number, ""); }

}  // namespace nsfmend
