// Bytes read by offset and written front to back, from and to files of any
// size (64-bit offsets in both builds) or memory. A file's holes are seen as
// such, so checking or copying a sparse multi-gigabyte database skips them.
#ifndef NOTESEMU_FORMATS_FILESTREAM_H
#define NOTESEMU_FORMATS_FILESTREAM_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "formats/codec.h"
#include "runtime/files.h"

namespace emu {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Exactly n bytes at off; 0 or errno (ENODATA when the bytes end first).
    virtual int ReadAt(uint64_t off, void *buf, size_t n) = 0;
    // The length, at most max, of a run of zeros known to start at off
    // without reading it (a hole); 0 where data starts.
    virtual uint64_t HoleAt(uint64_t /*off*/, uint64_t /*max*/) { return 0; }
    // Where the data run that starts at off ends (the next hole or the end).
    virtual uint64_t DataEnd(uint64_t /*off*/) { return Size(); }
};

class MemorySource : public ByteSource {
public:
    MemorySource(const void *data, size_t size)
        : p_(static_cast<const unsigned char *>(data)), size_(size) {}
    uint64_t Size() const override { return size_; }
    int ReadAt(uint64_t off, void *buf, size_t n) override;

private:
    const unsigned char *p_;
    size_t size_;
};

class FileSource : public ByteSource {
public:
    // 0 or errno; a folder is EISDIR.
    int Open(const std::string &path);
    uint64_t Size() const override { return size_; }
    int ReadAt(uint64_t off, void *buf, size_t n) override;
    uint64_t HoleAt(uint64_t off, uint64_t max) override;
    uint64_t DataEnd(uint64_t off) override;

private:
    Fd fd_;
    uint64_t size_ = 0;
    bool holes_ = true;  // false once the file system says it cannot tell
};

class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual int Write(const void *data, size_t n) = 0;  // 0 or errno
    // n zero bytes; a file leaves a hole for them.
    virtual int Zeros(uint64_t n) = 0;
    // Overwrites bytes already written (a header completed at the end).
    virtual int WriteAt(uint64_t off, const void *data, size_t n) = 0;
};

class StringSink : public ByteSink {
public:
    int Write(const void *data, size_t n) override;
    int Zeros(uint64_t n) override;
    int WriteAt(uint64_t off, const void *data, size_t n) override;
    std::string &str() { return out_; }

private:
    std::string out_;
};

// Buffered writes to a descriptor it does not own, holes by seeking.
class FileSink : public ByteSink {
public:
    explicit FileSink(int fd) : fd_(fd) {}
    int Write(const void *data, size_t n) override;
    int Zeros(uint64_t n) override;
    int WriteAt(uint64_t off, const void *data, size_t n) override;
    // Writes what is buffered and gives the file its full length.
    int Flush();
    uint64_t size() const { return pos_ + buf_.size(); }  // written or buffered

private:
    int fd_;
    uint64_t pos_ = 0;   // where the next byte goes
    uint64_t ended_ = 0; // bytes actually in the file (a trailing hole is not)
    std::vector<char> buf_;
};

// Copies [off, off + len) of src into *crc and, when given, *sink: data by
// chunks, holes without reading them. 0 or errno.
int StreamRange(ByteSource *src, uint64_t off, uint64_t len, Crc32Stream *crc, ByteSink *sink);

}  // namespace emu

#endif
