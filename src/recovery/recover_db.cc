// Recovery of one backup file through the archived transaction logs, and the
// per-note report of note mode.
#include "recovery/recover_db.h"

#include <stdio.h>
#include <string.h>

#include "support/sizes.h"
#include "support/sysfile.h"

using nsfmend::kMessageSize;
using nsfmend::kPathSize;

// Four-digit years, month/day/year, 24-hour clock, leading zeros; no daylight
// saving, so the parsed reading is not shifted by a summer-time rule.
const INTLFORMAT intl_format = {
    0x012c, 2, 140, 0, "AM", "PM", "$", ",", ".", "/", ":", "Yesterday", "Today", "Tomorrow",
};

// Full date, hours:minutes:seconds, zone never shown, date and time.
const TFMT tfmt = {0, 0, 0, 2};

namespace {

DWORD recoveryFlags(int newDbiid, int newRepid, int thirdOption) {
    if (thirdOption) return RECOVER_THIRD_OPTION;
    if (newRepid) return RECOVER_NEW_REPLICA_ID;
    if (newDbiid) return RECOVER_NEW_INSTANCE_ID;
    return 0;
}

// A point-in-time recovery forks the history, so the instance-ID request is
// not passed along with the cut-off flag: 2 becomes 8, not 10.
DWORD withCutOff(DWORD flags) {
    if (flags == RECOVER_NEW_INSTANCE_ID) return RECOVER_TO_TIME;
    return flags + RECOVER_TO_TIME;
}

const char *actionName(DWORD action) {
    switch (action) {
        case RECOVER_ACTION_UPDATE: return "Update";
        case RECOVER_ACTION_ADDITION: return "Addition";
        case RECOVER_ACTION_DELETION: return "Deletion";
        case RECOVER_ACTION_UNDO: return "Undo";
        default: return "Unknown";
    }
}

}  // namespace

namespace {

// RecoverDbs from the point where its cut-off has been read.
STATUS recoverWithCutOff(const char *backupPath, const nsfmend::CutOff &given, int newDbiid,
                         int newRepid, int thirdOption, int noteMode) {
    if (backupPath == nullptr) backupPath = "";
    char lmbcsPath[kPathSize];
    memset(lmbcsPath, 0, sizeof(lmbcsPath));
    OSTranslateToLMBCS(backupPath, (WORD)strlen(backupPath), lmbcsPath, sizeof(lmbcsPath));
    // The translation must leave a terminated path even if it filled the buffer.
    lmbcsPath[sizeof(lmbcsPath) - 1] = '\0';

    DWORD flags = recoveryFlags(newDbiid, newRepid, thirdOption);
    // The API may write the time it stopped at into the value it is given.
    TIMEDATE cutOff = given.value;
    TIMEDATE *cutOffArg = nullptr;
    if (given.given) {
        flags = withCutOff(flags);
        cutOffArg = &cutOff;
    }

    WORD errDbIndex = 0;
    STATUS status;
    if (noteMode) {
        status = NSFRecoverDatabasesWithCallback(lmbcsPath, nullptr, flags, &errDbIndex,
                                                 cutOffArg, NoteCallback, nullptr);
    } else {
        status = NSFRecoverDatabases(lmbcsPath, nullptr, flags, &errDbIndex, cutOffArg);
    }
    if (status != NOERROR) return status;

    if (given.given) {
        char when[81];
        memset(when, 0, sizeof(when));
        WORD length = 0;
        ConvertTIMEDATEToText(nullptr, nullptr, &cutOff, when, sizeof(when), &length);
        when[sizeof(when) - 1] = '\0';
        if (when[0] == '\0') (void)snprintf(when, sizeof(when), "unknown");
        printf(" Recover %s transactions till transaction in %s\n", backupPath, when);
    } else {
        printf(" Recover %s till latest transaction\n", backupPath);
    }
    return status;
}

}  // namespace

int RecoverDbs(const char *backupPath, const char *cutOffTime, int newDbiid, int newRepid,
               int thirdOption, int noteMode) {
    nsfmend::CutOff cutOff;
    const STATUS status = nsfmend::readCutOff(cutOffTime, &cutOff);
    if (status != NOERROR) return status;
    return recoverWithCutOff(backupPath, cutOff, newDbiid, newRepid, thirdOption, noteMode);
}

namespace {

// convertToLocalTIMEDATE, leaving the record it worked in in *broken.
void restamp(TIMEDATE *time, int zone, int dst, TIME *broken) {
    memset(broken, 0, sizeof(*broken));
    broken->GM = *time;
    TimeGMToLocal(broken);
    // Keep the calendar reading, replace only the zone it is read in.
    broken->zone = zone;
    broken->dst = dst;
    TimeLocalToGM(broken);
    *time = broken->GM;
}

}  // namespace

void convertToLocalTIMEDATE(TIMEDATE *time, int zone, int dst) {
    TIME broken;
    restamp(time, zone, dst, &broken);
}

STATUS nsfmend::parseCutOffTime(const char *text, TIMEDATE *cutOff, TIME *reading) {
    memset(cutOff, 0, sizeof(*cutOff));
    // The API only reads the text; it advances its own copy of the pointer.
    char *cursor = const_cast<char *>(text);
    STATUS status = ConvertTextToTIMEDATE(&intl_format, &tfmt, &cursor, (WORD)strlen(text), cutOff);
    if (status != NOERROR) return status;
    TIME broken;
    restamp(cutOff, 0, 0, &broken);
    if (reading != nullptr) *reading = broken;
    return NOERROR;
}

STATUS nsfmend::readCutOff(const char *text, CutOff *cutOff, TIME *reading) {
    *cutOff = CutOff();
    if (text == nullptr || text[0] == '\0') return NOERROR;
    const STATUS status = parseCutOffTime(text, &cutOff->value, reading);
    cutOff->given = status == NOERROR;
    return status;
}

extern "C" STATUS NoteCallback(DWORD action, void *, NOTE_RECOVERY_INFO *info) {
    NOTE_RECOVERY_INFO note;
    memcpy(&note, info, sizeof(note));

    char started[80];
    memset(started, 0, sizeof(started));
    WORD length = 0;
    STATUS status = ConvertTIMEDATEToText(nullptr, nullptr, &note.StartTime, started, 79, &length);
    if (status != NOERROR) return status;
    started[length < sizeof(started) ? length : sizeof(started) - 1] = '\0';

    char action_name[25];
    memset(action_name, 0, sizeof(action_name));
    (void)snprintf(action_name, sizeof(action_name), "%s", actionName(action));

    // Names come from the log; snprintf cuts an over-long report to the buffer.
    char report[kMessageSize];
    (void)snprintf(report, sizeof(report),
                   "\n\tNote information for backup file %s\n\t\tStarted at: %s\n\t\tInfoSize: %d"
                   "\n\t\tNoteID: %lX\n\t\tNoteHandle: %d\n\t\tUser Name: %s\n\t\tAction: %s"
                   "\n\t\tFinished at",
                   note.BackupFileName ? note.BackupFileName : "", started, (int)note.InfoSize,
                   (unsigned long)note.NoteID, (int)note.NoteHandle,
                   note.UserName ? note.UserName : "", action_name);
    printf("[nsfmend.NoteCallback] %s\n", report);
    return NOERROR;
}

nsfmend::Result nsfmend::recoverBackupFile(const char *backupPath, const char *cutOffTime,
                                           int newDbiid, int newRepid, int thirdOption,
                                           int noteMode) {
    const int result = RecoverDbs(backupPath, cutOffTime, newDbiid, newRepid, thirdOption, noteMode);
    return Result::api((STATUS)(result & 0xFFFF));
}

nsfmend::Result nsfmend::recoverBackupFile(const char *backupPath, const CutOff &cutOff,
                                           int newDbiid, int newRepid, int thirdOption,
                                           int noteMode) {
    return Result::api(
        recoverWithCutOff(backupPath, cutOff, newDbiid, newRepid, thirdOption, noteMode));
}
