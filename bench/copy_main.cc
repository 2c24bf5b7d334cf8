// bench/copy's driver: one overwrite-mode copy, as a restore makes it.
#include <stdio.h>

#include "support/copy.h"
#include "support/text.h"

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: copy_main SOURCE DESTINATION\n");
        return 2;
    }
    int rc = SysFileCopy(argv[1], argv[2], 0);
    if (rc != 0) {
        char message[4096];
        get_sys_error_message(rc, message);
        fprintf(stderr, "copy failed: %s\n", message);
        return 1;
    }
    return 0;
}
