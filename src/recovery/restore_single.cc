// Placeholder until the single-database sequence lands.
#include "recovery/restore_single.h"

int restoreSingleDatabase(const char *, const char *, const char *, const char *, int, int) {
    return 1;
}
