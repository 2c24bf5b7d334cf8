/*
 * A backup agent in plain C, built only against the installed nsfmend
 * header and library (and the platform's own header and libnotes.so): it
 * starts the runtime like a real agent, calls one operation, and prints what
 * came back so the end-to-end tests can check it.
 *
 *   agent_client [--repeat N] OPERATION ARGS...
 *     spool DEST SUFFIX [nostamp]          spoolNsfArchiveLogs
 *     archive SUFFIX DEST [nostamp]        DoArchiveLogs
 *     capture LOGDIR DEST SUFFIX           archiveHalfFilledLogs
 *     restore BACKUP DB                    restoreNsfDB
 *     recover BACKUP DATE DBIID REPID OPT  recoverNsfDB (DATE "-" = NULL)
 *     style                                getTransLogStyle
 *     verify BACKUPDIR [LOGDIR]            verifyNsfArchiveLogs (no LOGDIR = NULL)
 *
 * Output: "result=..." where the operation has one, then "msg=<text>",
 * and for the archiving "stamp=" / "format=" (or "untouched").
 * Exit 0 when the runtime started and the operation ran, 2 otherwise.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <nsfmend/agent.h>

#include "notesapi.h"

#define UNTOUCHED "untouched"

static void usage(void) {
    fputs("usage: agent_client [--repeat N] spool|archive|capture|restore|recover|style|verify"
          " ARGS...\n", stderr);
}

/* Exactly the documented size, so a write past it is caught by the sanitizer. */
static char *newMessageBuffer(void) {
    char *msg = malloc(NSFMEND_MSG_SIZE);
    if (msg != NULL) {
        memset(msg, 0, NSFMEND_MSG_SIZE);
        strcpy(msg, UNTOUCHED);
    }
    return msg;
}

static void printStamp(const char *stamp, const char *format) {
    printf("stamp=%s\n", stamp);
    printf("format=%s\n", format);
}

static int runOnce(int argc, char **argv) {
    const char *op = argv[0];
    char *msg = newMessageBuffer();
    char stamp[NSFMEND_TIMESTAMP_SIZE];
    char format[NSFMEND_TIMEFORMAT_SIZE];
    int ok = 1;

    if (msg == NULL) return 0;
    strcpy(stamp, UNTOUCHED);
    strcpy(format, UNTOUCHED);

    if (strcmp(op, "spool") == 0 && (argc == 3 || argc == 4)) {
        int withStamp = argc == 3;
        spoolNsfArchiveLogs(argv[1], argv[2], withStamp ? stamp : NULL, format, msg);
        printf("msg=%s\n", msg);
        printStamp(stamp, format);
    } else if (strcmp(op, "archive") == 0 && (argc == 3 || argc == 4)) {
        int withStamp = argc == 3;
        uint16_t result = DoArchiveLogs(argv[1], argv[2], withStamp ? stamp : NULL, format, msg);
        printf("result=%u\n", (unsigned)result);
        printf("msg=%s\n", msg);
        printStamp(stamp, format);
    } else if (strcmp(op, "capture") == 0 && argc == 4) {
        int result = archiveHalfFilledLogs(argv[1], argv[2], argv[3], msg);
        printf("result=%d\n", result);
        printf("msg=%s\n", msg);
    } else if (strcmp(op, "restore") == 0 && argc == 3) {
        restoreNsfDB(argv[1], argv[2], NULL, msg);
        printf("msg=%s\n", msg);
    } else if (strcmp(op, "recover") == 0 && argc == 6) {
        const char *date = strcmp(argv[2], "-") == 0 ? NULL : argv[2];
        recoverNsfDB(argv[1], date, atoi(argv[3]), atoi(argv[4]), atoi(argv[5]), msg);
        printf("msg=%s\n", msg);
    } else if (strcmp(op, "style") == 0 && argc == 1) {
        getTransLogStyle(msg);
        printf("msg=%s\n", msg);
    } else if (strcmp(op, "verify") == 0 && (argc == 2 || argc == 3)) {
        verifyNsfArchiveLogs(argv[1], argc == 3 ? argv[2] : NULL, msg);
        printf("msg=%s\n", msg);
    } else {
        usage();
        ok = 0;
    }
    fflush(stdout);
    free(msg);
    return ok;
}

int main(int argc, char **argv) {
    int repeat = 1;
    int first = 1;
    const char *dataDir = getenv("NOTES_DATA_DIR");
    char iniArg[1100];
    char *initArgv[2];
    STATUS status;
    int i;
    int ok = 1;

    if (argc > 2 && strcmp(argv[1], "--repeat") == 0) {
        repeat = atoi(argv[2]);
        first = 3;
    }
    if (first >= argc || repeat < 1) {
        usage();
        return 2;
    }
    if (dataDir == NULL || strlen(dataDir) > 1000) {
        fputs("agent_client: NOTES_DATA_DIR is not set\n", stderr);
        return 2;
    }
    snprintf(iniArg, sizeof iniArg, "=%s/notes.ini", dataDir);
    initArgv[0] = (char *)dataDir;
    initArgv[1] = iniArg;
    status = NotesInitExtended(2, initArgv);
    if (status != 0) {
        fprintf(stderr, "agent_client: the runtime did not start: %u\n", (unsigned)status);
        return 2;
    }
    for (i = 0; i < repeat && ok; ++i) ok = runOnce(argc - first, argv + first);
    NotesTerm();
    return ok ? 0 : 2;
}
