// The platform API boundary. The program, the backup-agent library and the
// emulator all include this one header; nothing else declares these calls.
// Names, argument order and record layouts are the published ones, so the
// same binaries run against a server's own libnotes.so.
#ifndef NSFMEND_NOTESAPI_H
#define NSFMEND_NOTESAPI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef WORD STATUS;
typedef int BOOL;
typedef DWORD DHANDLE;
typedef DWORD DBHANDLE;
typedef void *HMODULE;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define NOERROR 0

typedef struct {
    DWORD Innards[2];
} TIMEDATE;

typedef struct {
    DWORD Words[4];
} UNID; /* log ID, instance ID */

typedef struct { /* broken-down time */
    int year, month, day, weekday, hour, minute, second, hundredth;
    int dst;  /* daylight-saving flag */
    int zone; /* time zone */
    TIMEDATE GM; /* the same moment as a GMT value */
} TIME;

typedef struct { /* international format */
    WORD Flags;
    BYTE CurrencyDigits;
    BYTE Length;
    int TimeZone;
    char AMString[5], PMString[5], CurrencyString[5], ThousandString[5],
        DecimalString[5], DateString[5], TimeString[5];
    char YesterdayString[32], TodayString[32], TomorrowString[32];
} INTLFORMAT;

/* INTLFORMAT flag bits */
#define INTL_CURRENCY_SUFFIX 0x0001
#define INTL_CURRENCY_SPACE 0x0002
#define INTL_LEADING_ZERO 0x0004
#define INTL_24_HOUR 0x0008
#define INTL_DAYLIGHT_SAVING 0x0010
#define INTL_DATE_MDY 0x0020
#define INTL_DATE_DMY 0x0040
#define INTL_DATE_YMD 0x0080
#define INTL_4DIGIT_YEAR 0x0100

typedef struct {
    BYTE Date, Time, Zone, Structure;
} TFMT;

typedef struct { /* handed to the note callback */
    WORD InfoSize;
    DWORD NoteID;
    DWORD NoteHandle; /* printed as a signed number */
    TIMEDATE StartTime;
    const char *UserName;
    const char *BackupFileName;
} NOTE_RECOVERY_INFO;

/* OSTranslate modes */
#define TRANSLATE_NATIVE_TO_LMBCS 0
#define TRANSLATE_LMBCS_TO_NATIVE 1

/* Recovery flag bits */
#define RECOVER_NEW_INSTANCE_ID 0x00000002       /* new instance ID */
#define RECOVER_TO_TIME 0x00000008 /* a cut-off time is passed */
#define RECOVER_NEW_REPLICA_ID 0x00000010 /* new replica ID */
#define RECOVER_THIRD_OPTION 0x00000020

/* Fixed statuses the program tests */
#define STATUS_NO_LOG_TO_ARCHIVE 5086 /* 0x13DE */
#define STATUS_DB_NOT_IN_USE 5113          /* 0x13F9: no running server holds it */
#define STATUS_LOGGING_OFF 5119   /* 0x13FF */

/* Note callback action codes */
#define RECOVER_ACTION_UPDATE 1
#define RECOVER_ACTION_ADDITION 2
#define RECOVER_ACTION_DELETION 4
#define RECOVER_ACTION_UNDO 8

STATUS NotesInitExtended(int argc, char **argv);
void NotesTerm(void);
WORD OSGetDataDirectory(char *retPathName); /* buffer 1024 */
BOOL OSGetEnvironmentString(const char *name, char *retValue, WORD bufferLength);
WORD OSLoadString(HMODULE hModule, STATUS code, char *retBuffer, WORD bufferLength);
WORD OSTranslate(WORD mode, const char *in, WORD inLength, char *out, WORD outLength);
STATUS ConvertTextToTIMEDATE(const INTLFORMAT *intl, const TFMT *fmt, char **text,
                             WORD maxLength, TIMEDATE *retTime);
STATUS ConvertTIMEDATEToText(const INTLFORMAT *intl, const TFMT *fmt,
                             const TIMEDATE *time, char *retText,
                             WORD textBufferLength, WORD *retTextLength);
BOOL TimeGMToLocal(TIME *t);
BOOL TimeLocalToGM(TIME *t);

typedef STATUS (*RESTORE_CALLBACK)(char *dbName, DWORD done, DWORD total);
typedef STATUS (*NOTE_CALLBACK)(DWORD action, void *context, NOTE_RECOVERY_INFO *info);
STATUS NSFRecoverDatabases(char *dbNames, RESTORE_CALLBACK restoreCallback, DWORD flags,
                           WORD *errDbIndex, TIMEDATE *recoveryTime);
STATUS NSFRecoverDatabasesWithCallback(char *dbNames, RESTORE_CALLBACK restoreCallback,
                                       DWORD flags, WORD *errDbIndex,
                                       TIMEDATE *recoveryTime, NOTE_CALLBACK noteCallback,
                                       void *context);

STATUS NSFTakeDatabaseOffline(char *dbPath, DWORD waitTime, DWORD options);
STATUS NSFBringDatabaseOnline(char *dbPath, DWORD options);
STATUS NSFDbOpen(const char *pathName, DBHANDLE *rethDB);
STATUS NSFDbClose(DBHANDLE hDB);
STATUS NSFDbGetLogInfo(DBHANDLE hDB, DWORD flags, BOOL *logged, UNID *logID, UNID *dbIID,
                       DWORD *logExtent);
STATUS NSFGetTransLogStyle(WORD *logType);
STATUS NSFBeginArchivingLogs(void);
STATUS NSFEndArchivingLogs(void);
STATUS NSFGetFirstLogToArchive(UNID *logID, DWORD *logNumber, char *logPath);
STATUS NSFGetNextLogToArchive(UNID *logID, DWORD *logNumber, char *logPath);
STATUS NSFDoneArchivingLog(UNID *logID, DWORD *logNumber);

#ifdef __cplusplus
} /* extern "C" */

/* The record layouts are part of the binary contract in both builds. */
static_assert(sizeof(TIMEDATE) == 8, "TIMEDATE is 8 bytes");
static_assert(sizeof(UNID) == 16, "UNID is 16 bytes");
static_assert(sizeof(TIME) == 48, "TIME is 48 bytes");
static_assert(sizeof(INTLFORMAT) == 140, "INTLFORMAT is 140 bytes");
static_assert(sizeof(TFMT) == 4, "TFMT is 4 bytes");
#else
_Static_assert(sizeof(TIMEDATE) == 8, "TIMEDATE is 8 bytes");
_Static_assert(sizeof(UNID) == 16, "UNID is 16 bytes");
_Static_assert(sizeof(TIME) == 48, "TIME is 48 bytes");
_Static_assert(sizeof(INTLFORMAT) == 140, "INTLFORMAT is 140 bytes");
_Static_assert(sizeof(TFMT) == 4, "TFMT is 4 bytes");
#endif

#endif /* NSFMEND_NOTESAPI_H */
