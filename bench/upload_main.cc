// bench/upload's driver: one extent into an object store as the archive
// loop puts it (a look first, the file hashed once for its SHA-256 and
// MD5, the upload streamed from the file, a look after).
#include <stdio.h>

#include <memory>
#include <string>

#include "storage/storage.h"

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: upload_main FILE s3://BUCKET/PREFIX/NAME\n");
        return 2;
    }
    std::unique_ptr<nsfmend::Storage> store;
    std::string name;
    nsfmend::Result result = nsfmend::openDestination(argv[2], &store, &name);
    nsfmend::StoredDigest stored;
    if (result.isOk()) result = store->put(argv[1], name, &stored);
    if (!result.isOk()) {
        fprintf(stderr, "upload failed: %s\n", result.explanation().c_str());
        return 1;
    }
    return 0;
}
