// How the bytes of one file stand to another's. An archived copy of an
// extent may be the whole extent or the start of it (a capture taken while
// the server was still filling it); anything else is another file.
#ifndef NSFMEND_SUPPORT_COMPARE_H
#define NSFMEND_SUPPORT_COMPARE_H

namespace nsfmend {
class Sha256;

enum class ContentRelation {
    kIdentical,  // the same bytes
    kPrefix,     // the first file's bytes are the start of the second's
    kDifferent,  // anything else, a first file longer than the second included
};

// Compares two regular files open for reading, each from where its
// descriptor stands (the start, for one just opened). A descriptor of
// anything but a regular file gives kDifferent without reading. 0, or the
// errno of a failed read. firstDigest (when given) takes the first file's
// bytes as they are read: whole when the relation is kIdentical or kPrefix.
int compareContents(int firstFd, int secondFd, ContentRelation *relation,
                    Sha256 *firstDigest = nullptr);

}  // namespace nsfmend

#endif
