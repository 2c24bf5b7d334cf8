// A storage that is a folder of the local file system. Every file it makes
// goes through the durable-write layer (support/durable.h): a hidden
// temporary file beside its final name, synced, renamed into place, the
// folder synced; so an archived copy or a record is always wholly old or
// wholly new, and a run stopped anywhere can simply run again.
#ifndef NSFMEND_STORAGE_FOLDER_STORAGE_H
#define NSFMEND_STORAGE_FOLDER_STORAGE_H

#include <string>
#include <string_view>
#include <vector>

#include "storage/storage.h"

namespace nsfmend {
class Sha256;

class FolderStorage : public Storage {
public:
    // prefix: the text the folder's names follow in a path ("/backup/", or
    // "" for the working directory); location: what prepare() creates.
    FolderStorage(std::string prefix, std::string location);

    std::string pathOf(std::string_view name) const override;
    Result prepare() override;
    Result list(std::vector<StoredEntry> *entries) override;
    Result probe(std::string_view name) override;
    Result read(std::string_view name, ByteSink *sink) override;
    Result put(const char *source, std::string_view name, StoredDigest *stored) override;
    Result digest(std::string_view name, StoredDigest *digest) override;
    Result writeText(std::string_view name, std::string_view text, Placing how) override;
    void removeLeftovers() override;

private:
    // The folder as the file system takes it.
    std::string folder() const;

    std::string prefix_;
    std::string location_;
};

// put() for a folder, by path: archivedName gets source's bytes under the
// rules of Storage::put. 0 once archivedName holds them on disk, with
// *digest taken from those bytes as they were copied or compared (the
// archived file is never read again for it); otherwise the errno of the
// failing step (EEXIST for other content there), or -1.
int archiveFile(const char *source, const char *archivedName, Sha256 *digest);

}  // namespace nsfmend

#endif
