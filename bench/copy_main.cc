// bench/copy's driver: the restore's copy, RestoreDbs, as a restore makes it
// over a live database (temporary file beside it, sync, rename, folder sync).
#include <stdio.h>

#include "recovery/restore_single.h"
#include "support/text.h"

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: copy_main SOURCE DESTINATION\n");
        return 2;
    }
    int rc = RestoreDbs(argv[1], argv[2]);
    if (rc != 0) {
        char message[4096];
        get_sys_error_message(rc, message);
        fprintf(stderr, "copy failed: %s\n", message);
        return 1;
    }
    return 0;
}
