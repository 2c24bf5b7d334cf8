#include "formats/filestream.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace emu {

namespace {

// Big enough that a dense multi-gigabyte file streams at disk speed, small
// enough that memory stays flat whatever the file's size.
constexpr size_t kChunk = size_t(1) << 20;

}  // namespace

int MemorySource::ReadAt(uint64_t off, void *buf, size_t n) {
    if (off > size_ || n > size_ - off) return ENODATA;
    memcpy(buf, p_ + off, n);
    return 0;
}

int FileSource::Open(const std::string &path) {
    fd_.Reset(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd_.valid()) return errno;
    struct stat st;
    if (fstat(fd_.get(), &st) != 0) return errno;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    size_ = static_cast<uint64_t>(st.st_size);
    return 0;
}

int FileSource::ReadAt(uint64_t off, void *buf, size_t n) {
    char *p = static_cast<char *>(buf);
    while (n > 0) {
        ssize_t got = pread(fd_.get(), p, n, static_cast<off_t>(off));
        if (got < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (got == 0) return ENODATA;  // the file is shorter than it was
        p += got;
        off += static_cast<uint64_t>(got);
        n -= static_cast<size_t>(got);
    }
    return 0;
}

uint64_t FileSource::HoleAt(uint64_t off, uint64_t max) {
    if (!holes_ || off >= size_) return 0;
    off_t data = lseek(fd_.get(), static_cast<off_t>(off), SEEK_DATA);
    uint64_t next;
    if (data >= 0) {
        next = static_cast<uint64_t>(data);
    } else if (errno == ENXIO) {
        next = size_;  // nothing but a hole up to the end
    } else {
        holes_ = false;  // no hole support here: every byte is read
        return 0;
    }
    uint64_t hole = next > off ? next - off : 0;
    return std::min(hole, max);
}

uint64_t FileSource::DataEnd(uint64_t off) {
    if (!holes_) return size_;
    off_t hole = lseek(fd_.get(), static_cast<off_t>(off), SEEK_HOLE);
    if (hole < 0 || static_cast<uint64_t>(hole) <= off) return size_;
    return std::min(static_cast<uint64_t>(hole), size_);
}

int StringSink::Write(const void *data, size_t n) {
    out_.append(static_cast<const char *>(data), n);
    return 0;
}

int StringSink::Zeros(uint64_t n) {
    if (n > out_.max_size() - out_.size()) return ENOMEM;
    out_.append(static_cast<size_t>(n), '\0');
    return 0;
}

int StringSink::WriteAt(uint64_t off, const void *data, size_t n) {
    if (off > out_.size() || n > out_.size() - off) return EINVAL;
    memcpy(&out_[static_cast<size_t>(off)], data, n);
    return 0;
}

int FileSink::Write(const void *data, size_t n) {
    const char *p = static_cast<const char *>(data);
    if (buf_.size() + n > kChunk) {
        int err = Flush();
        if (err != 0) return err;
    }
    if (n >= kChunk) {
        // Large pieces go straight through instead of through the buffer.
        int err = WriteAllAt(fd_, p, n, pos_);
        if (err != 0) return err;
        pos_ += n;
        ended_ = pos_;
        return 0;
    }
    buf_.insert(buf_.end(), p, p + n);
    return 0;
}

int FileSink::Zeros(uint64_t n) {
    if (!buf_.empty()) {
        int err = Flush();
        if (err != 0) return err;
    }
    pos_ += n;  // a hole: nothing written, the next write lands beyond it
    return 0;
}

int FileSink::Flush() {
    if (buf_.empty()) {
        // Only a hole since the last write: give the file its length.
        if (pos_ > ended_ && ftruncate(fd_, static_cast<off_t>(pos_)) != 0) return errno;
        ended_ = pos_;
        return 0;
    }
    int err = WriteAllAt(fd_, buf_.data(), buf_.size(), pos_);
    if (err != 0) return err;
    pos_ += buf_.size();
    ended_ = pos_;
    buf_.clear();
    return 0;
}

int FileSink::WriteAt(uint64_t off, const void *data, size_t n) {
    int err = Flush();
    return err != 0 ? err : WriteAllAt(fd_, data, n, off);
}

int StreamRange(ByteSource *src, uint64_t off, uint64_t len, Crc32Stream *crc, ByteSink *sink) {
    std::vector<char> buf;
    while (len > 0) {
        uint64_t hole = src->HoleAt(off, len);
        if (hole > 0) {
            crc->Zeros(hole);
            if (sink != nullptr) {
                int err = sink->Zeros(hole);
                if (err != 0) return err;
            }
            off += hole;
            len -= hole;
            continue;
        }
        uint64_t end = src->DataEnd(off);
        uint64_t run = std::min<uint64_t>({len, end > off ? end - off : len, kChunk});
        if (buf.size() < run) buf.resize(static_cast<size_t>(run));
        int err = src->ReadAt(off, buf.data(), static_cast<size_t>(run));
        if (err != 0) return err;
        crc->Update(buf.data(), static_cast<size_t>(run));
        if (sink != nullptr) {
            err = sink->Write(buf.data(), static_cast<size_t>(run));
            if (err != 0) return err;
        }
        off += run;
        len -= run;
    }
    return 0;
}

}  // namespace emu
