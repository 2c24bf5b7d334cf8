#include "formats/codec.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "runtime/messages.h"

namespace emu {

namespace {

constexpr uint32_t kCrcPolynomial = 0xEDB88320u;  // reflected, as in zlib

// Slicing by eight: table[k][b] is the register after byte b and k zero
// bytes, so eight input bytes take eight lookups and no shifts between them.
struct CrcTables {
    uint32_t t[8][256];
    CrcTables() {
        for (uint32_t i = 0; i < 256; i++) {
            uint32_t c = i;
            for (int k = 0; k < 8; k++) c = (c & 1) ? kCrcPolynomial ^ (c >> 1) : c >> 1;
            t[0][i] = c;
        }
        for (uint32_t i = 0; i < 256; i++)
            for (int k = 1; k < 8; k++) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    }
};

const CrcTables &Tables() {
    static const CrcTables tables;
    return tables;
}

// a * b modulo the polynomial, both in the reflected bit order (x^0 is the
// top bit).
uint32_t MultModPoly(uint32_t a, uint32_t b) {
    uint32_t product = 0;
    for (uint32_t m = 1u << 31; m != 0; m >>= 1) {
        if (a & m) product ^= b;
        b = (b & 1) ? (b >> 1) ^ kCrcPolynomial : b >> 1;
    }
    return product;
}

}  // namespace

void Crc32Stream::Update(const void *data, size_t size) {
    const CrcTables &tb = Tables();
    const unsigned char *p = static_cast<const unsigned char *>(data);
    uint32_t c = reg_;
    while (size >= 8) {
        uint32_t lo = (p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24)) ^ c;
        uint32_t hi = p[4] | (p[5] << 8) | (p[6] << 16) | (uint32_t(p[7]) << 24);
        c = tb.t[7][lo & 0xFF] ^ tb.t[6][(lo >> 8) & 0xFF] ^ tb.t[5][(lo >> 16) & 0xFF] ^
            tb.t[4][lo >> 24] ^ tb.t[3][hi & 0xFF] ^ tb.t[2][(hi >> 8) & 0xFF] ^
            tb.t[1][(hi >> 16) & 0xFF] ^ tb.t[0][hi >> 24];
        p += 8;
        size -= 8;
    }
    while (size-- > 0) c = tb.t[0][(c ^ *p++) & 0xFF] ^ (c >> 8);
    reg_ = c;
}

// A zero byte moves the register by multiplying it with x^8; n of them
// multiply by x^(8n), built from x^(2^k) by squaring.
void Crc32Stream::Zeros(uint64_t count) {
    uint32_t power = 1u << 23;  // x^8
    while (count != 0) {
        if (count & 1) reg_ = MultModPoly(power, reg_);
        power = MultModPoly(power, power);
        count >>= 1;
    }
}

uint32_t Crc32(const void *data, size_t size) {
    Crc32Stream crc;
    crc.Update(data, size);
    return crc.Value();
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

AtomicFile::~AtomicFile() {
    if (!fd_.valid()) return;
    fd_.Close();
    unlink(tmp_.c_str());
}

int AtomicFile::Create(const std::string &path, mode_t mode) {
    if (mode == 0) {
        struct stat st;
        mode = stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
    }
    path_ = path;
    mode_ = mode;
    tmp_ = path + ".tmp-XXXXXX";
    int fd = mkstemp(&tmp_[0]);
    if (fd < 0) return errno;
    fd_.Reset(fd);
    return 0;
}

int AtomicFile::Commit() {
    if (!fd_.valid()) return EBADF;
    int err = 0;
    if (fchmod(fd_.get(), mode_) != 0) err = errno;
    if (err == 0 && fsync(fd_.get()) != 0) err = errno;
    int closeErr = fd_.Close();
    if (err == 0) err = closeErr;
    if (err == 0 && rename(tmp_.c_str(), path_.c_str()) != 0) err = errno;
    if (err != 0) {
        unlink(tmp_.c_str());
        return err;
    }
    // The rename is only durable once the folder itself is synced.
    Fd dir(open(DirName(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid()) fsync(dir.get());
    return 0;
}

int WriteFileAtomic(const std::string &path, std::string_view data, mode_t mode) {
    AtomicFile file;
    int err = file.Create(path, mode);
    if (err == 0) err = WriteAll(file.fd(), data);
    return err != 0 ? err : file.Commit();
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
        case ENAMETOOLONG: return EMU_ERR_NAME_TOO_LONG;
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
