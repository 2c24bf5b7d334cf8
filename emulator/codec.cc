#include "codec.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "status.h"

namespace emu {

uint32_t Crc32(const void *data, size_t size) {
    static uint32_t table[256];
    static bool ready = false;
    if (!ready) {
        for (uint32_t i = 0; i < 256; i++) {
            uint32_t c = i;
            for (int k = 0; k < 8; k++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
        ready = true;
    }
    const unsigned char *p = static_cast<const unsigned char *>(data);
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; i++) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

void Writer::U16(uint16_t v) {
    U8(static_cast<uint8_t>(v));
    U8(static_cast<uint8_t>(v >> 8));
}
void Writer::U32(uint32_t v) {
    U16(static_cast<uint16_t>(v));
    U16(static_cast<uint16_t>(v >> 16));
}
void Writer::U64(uint64_t v) {
    U32(static_cast<uint32_t>(v));
    U32(static_cast<uint32_t>(v >> 32));
}
void Writer::Unid(const UNID &u) {
    for (DWORD w : u.Words) U32(w);
}

bool Reader::Take(size_t n) {
    if (!ok_ || n > size_ - pos_) {
        ok_ = false;
        return false;
    }
    return true;
}
uint8_t Reader::U8() {
    if (!Take(1)) return 0;
    return p_[pos_++];
}
uint16_t Reader::U16() {
    if (!Take(2)) return 0;
    uint16_t v = static_cast<uint16_t>(p_[pos_] | (p_[pos_ + 1] << 8));
    pos_ += 2;
    return v;
}
uint32_t Reader::U32() {
    uint32_t lo = U16();
    uint32_t hi = U16();
    return lo | (hi << 16);
}
uint64_t Reader::U64() {
    uint64_t lo = U32();
    uint64_t hi = U32();
    return lo | (hi << 32);
}
UNID Reader::Unid() {
    UNID u;
    for (DWORD &w : u.Words) w = U32();
    return u;
}
std::string Reader::Bytes(size_t n) {
    if (!Take(n)) return std::string();
    std::string s(reinterpret_cast<const char *>(p_ + pos_), n);
    pos_ += n;
    return s;
}

Fd::~Fd() { Close(); }

int Fd::Close() {
    if (fd_ < 0) return 0;
    int rc = close(fd_);
    fd_ = -1;
    return rc == 0 ? 0 : errno;
}

int ReadWholeFile(const std::string &path, std::string *out, int64_t maxSize) {
    out->clear();
    Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return errno;
    struct stat st;
    if (fstat(fd.get(), &st) != 0) return errno;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (static_cast<int64_t>(st.st_size) > maxSize) return EFBIG;
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd.get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) break;
        out->append(buf, static_cast<size_t>(n));
        if (static_cast<int64_t>(out->size()) > maxSize) return EFBIG;
    }
    return 0;
}

static int WriteAll(int fd, std::string_view data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        done += static_cast<size_t>(n);
    }
    return 0;
}

int WriteFileAtomic(const std::string &path, std::string_view data, mode_t mode) {
    if (mode == 0) {
        struct stat st;
        mode = stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
    }
    std::string tmp = path + ".tmp-XXXXXX";
    Fd fd(mkstemp(&tmp[0]));
    if (!fd.valid()) return errno;
    int err = WriteAll(fd.get(), data);
    if (err == 0 && fchmod(fd.get(), mode) != 0) err = errno;
    if (err == 0 && fsync(fd.get()) != 0) err = errno;
    int closeErr = fd.Close();
    if (err == 0) err = closeErr;
    if (err == 0 && rename(tmp.c_str(), path.c_str()) != 0) err = errno;
    if (err != 0) {
        unlink(tmp.c_str());
        return err;
    }
    // The rename is only durable once the folder itself is synced.
    Fd dir(open(DirName(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid()) fsync(dir.get());
    return 0;
}

int AppendFileSynced(const std::string &path, std::string_view data) {
    Fd fd(open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
    if (!fd.valid()) return errno;
    int err = WriteAll(fd.get(), data);
    if (err == 0 && fdatasync(fd.get()) != 0) err = errno;
    int closeErr = fd.Close();
    return err != 0 ? err : closeErr;
}

STATUS FileStatus(int err) {
    switch (err) {
        case 0: return NOERROR;
        case ENOENT:
        case ENOTDIR: return EMU_ERR_FILE_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS: return EMU_ERR_FILE_ACCESS;
        case ENOMEM: return EMU_ERR_NO_MEMORY;
        default: return EMU_ERR_FILE_IO;
    }
}

UNID RandomUnid() {
    UNID u;
    memset(&u, 0, sizeof u);
    Fd fd(open("/dev/urandom", O_RDONLY | O_CLOEXEC));
    if (fd.valid() && read(fd.get(), &u, sizeof u) == static_cast<ssize_t>(sizeof u) &&
        !UnidIsZero(u))
        return u;
    // Without /dev/urandom: time and process make it unique enough for a model.
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    static DWORD counter = 0;
    u.Words[0] = static_cast<DWORD>(ts.tv_sec);
    u.Words[1] = static_cast<DWORD>(ts.tv_nsec);
    u.Words[2] = static_cast<DWORD>(getpid());
    u.Words[3] = ++counter;
    return u;
}

bool UnidIsZero(const UNID &u) {
    return (u.Words[0] | u.Words[1] | u.Words[2] | u.Words[3]) == 0;
}

bool UnidEqual(const UNID &a, const UNID &b) {
    return memcmp(&a, &b, sizeof a) == 0;
}

std::string UnidHex(const UNID &u) {
    char buf[40];
    (void)snprintf(buf, sizeof buf, "%08X%08X%08X%08X", static_cast<unsigned>(u.Words[0]),
                   static_cast<unsigned>(u.Words[1]), static_cast<unsigned>(u.Words[2]),
                   static_cast<unsigned>(u.Words[3]));
    return buf;
}

bool IsAbsolute(std::string_view p) { return !p.empty() && p[0] == '/'; }

std::string JoinPath(std::string_view dir, std::string_view name) {
    std::string out(dir);
    if (!out.empty() && out.back() != '/') out += '/';
    out.append(name.data(), name.size());
    return out;
}

std::string DirName(const std::string &path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string BaseName(const std::string &path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string AbsolutePath(const std::string &path) {
    char buf[PATH_MAX];
    if (realpath(path.c_str(), buf) != nullptr) return buf;
    if (IsAbsolute(path)) return path;
    if (getcwd(buf, sizeof buf) == nullptr) return path;
    return JoinPath(buf, path);
}

}  // namespace emu
