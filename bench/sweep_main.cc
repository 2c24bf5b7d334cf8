// Times the data-directory listing, or the whole sweep, over a tree built by
// bench/sweep. Usage: sweep_main list|sweep DIR
//   list:  listDatabases only; prints "<count> <seconds>"
//   sweep: restoreAllDatabases with the runtime started from
//          $NOTES_DATA_DIR/notes.ini; its lines go to /dev/null; "<seconds>" on stderr
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <string>
#include <string_view>

#include "notesapi/notesapi.h"
#include "recovery/media_recovery.h"
#include "support/string_array.h"

namespace {

double now() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

int listOnly(const char *dir) {
    StringArray list;
    arrayInit(&list);
    char message[4096];
    memset(message, 0, sizeof(message));
    const double start = now();
    int listed = listDatabases(dir, &list, dir, message);
    int count = getArraySize(&list);
    // Read every position in turn, as the sweep does.
    for (int i = 1; i <= count; ++i) getArrayItem(&list, i);
    const double elapsed = now() - start;
    clearArrayContent(&list);
    if (!listed) {
        fprintf(stderr, "%s\n", message);
        return 1;
    }
    printf("%d %.3f\n", count, elapsed);
    return 0;
}

int wholeSweep(const char *dir) {
    const char *data = getenv("NOTES_DATA_DIR");
    if (data == nullptr) {
        fprintf(stderr, "NOTES_DATA_DIR is not set\n");
        return 1;
    }
    std::string program = data;
    std::string ini = "=" + program + "/notes.ini";
    char *argv[] = {program.data(), ini.data()};
    STATUS status = NotesInitExtended(2, argv);
    if (status != NOERROR) {
        fprintf(stderr, "runtime start failed: %u\n", (unsigned)status);
        return 1;
    }
    fflush(stdout);
    FILE *out = freopen("/dev/null", "w", stdout);
    const double start = now();
    int listed = restoreAllDatabases("RECOVER", dir, dir, "", 0, 0);
    fflush(stdout);
    const double elapsed = now() - start;
    NotesTerm();
    if (out == nullptr || !listed) return 1;
    fprintf(stderr, "%.3f\n", elapsed);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s list|sweep DIR\n", argv[0]);
        return 2;
    }
    const std::string_view mode = argv[1];
    if (mode == "list") return listOnly(argv[2]);
    if (mode == "sweep") return wholeSweep(argv[2]);
    fprintf(stderr, "usage: %s list|sweep DIR\n", argv[0]);
    return 2;
}
