// A storage that is a bucket and a prefix of an object store speaking the
// S3 API.
#ifndef NSFMEND_STORAGE_S3_STORAGE_H
#define NSFMEND_STORAGE_S3_STORAGE_H

#include <memory>
#include <string>
#include <string_view>

#include "storage/storage.h"

namespace nsfmend {

// The store a location s3://BUCKET[/PREFIX] names, configured from the
// environment. As a destination (openDestination) the names are
// location + NAME; otherwise the prefix is a folder, "/" added.
Result openS3Storage(std::string_view location, bool destination,
                     std::unique_ptr<Storage> *storage, std::string *stem);

}  // namespace nsfmend

#endif
