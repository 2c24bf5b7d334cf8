// The one place that tells a store's location from a folder's.
#include "storage/storage.h"

#include <utility>

#include "storage/folder_storage.h"
#include "storage/s3_storage.h"
#include "support/path.h"

namespace nsfmend {

bool isStoreLocation(std::string_view text) { return text.substr(0, 5) == "s3://"; }

Result openStorage(std::string_view location, std::unique_ptr<Storage> *storage) {
    storage->reset();
    if (isStoreLocation(location)) return openS3Storage(location, false, storage, nullptr);
    const std::string folder = joinPath(location, "");
    *storage = std::make_unique<FolderStorage>(folder, std::string(location));
    return Result::ok();
}

Result openDestination(std::string_view location, std::unique_ptr<Storage> *storage,
                       std::string *stem) {
    storage->reset();
    stem->clear();
    if (isStoreLocation(location)) return openS3Storage(location, true, storage, stem);
    // The names are location + NAME: their folder is what precedes the last
    // "/", and what follows it starts every name.
    const size_t slash = location.rfind('/');
    const size_t cut = slash == std::string_view::npos ? 0 : slash + 1;
    *stem = std::string(location.substr(cut));
    *storage = std::make_unique<FolderStorage>(std::string(location.substr(0, cut)),
                                               std::string(location));
    return Result::ok();
}

}  // namespace nsfmend
