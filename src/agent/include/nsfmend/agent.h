/*
 * nsfmend backup-agent library (libnsfmend.so).
 *
 * Operations for a backup agent running on the server machine: archive the
 * server's transaction-log extents into a directory of the agent's, check
 * that such a directory holds an unbroken chain of them, restore a backup
 * file over a live database, roll a backup file forward through the
 * archived logs, and ask the server's logging style.
 *
 * The caller starts the platform runtime itself (NotesInitExtended from the
 * platform's libnotes.so) before calling any of these, and stops it
 * (NotesTerm) afterwards. Nothing here prints; every operation reports
 * through the caller's message buffer. The library is single-threaded:
 * call it from one thread at a time.
 *
 * Building an agent: pkg-config gives this library's flags; as the agent
 * calls the runtime itself, it links the server's libnotes.so as well:
 *   cc agent.c $(pkg-config --cflags --libs nsfmend) -L/opt/server/lib -lnotes
 * At run time the loader must find libnotes.so (LD_LIBRARY_PATH, or the
 * server's folder in /etc/ld.so.conf.d).
 *
 * Message buffer: caller-owned, at least NSFMEND_MSG_SIZE (4096) bytes,
 * because the platform's message texts are loaded into it with that limit.
 * Each text is written from the first byte with its terminating NUL, so a
 * later text replaces an earlier one. What the buffer holds on return is
 * one of:
 *   - a status string below,
 *   - the platform's message text for a failing status (or "error_code=%d"
 *     with the status when the platform has none),
 *   - the system's text for a failing errno ("Unknown error." for a failure
 *     without one),
 *   - one of the texts listed with each operation.
 *
 * Paths are native (the library translates them for the platform where it
 * must). Every path buffer of the library holds NSFMEND_PATH_SIZE (1024)
 * bytes, so a path or a name built from one must stay within 1023
 * characters; longer input is refused with a text, before anything is
 * changed.
 */
#ifndef NSFMEND_AGENT_H
#define NSFMEND_AGENT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Buffer sizes, terminating NUL included. */
#define NSFMEND_MSG_SIZE 4096        /* message buffer, at least */
#define NSFMEND_PATH_SIZE 1024       /* every path and archived name */
#define NSFMEND_TIMESTAMP_SIZE 20    /* "2013-11-15-13-00-00" */
#define NSFMEND_TIMEFORMAT_SIZE 18   /* "%Y-%m-%d-%H-%M-%S" */

/* Status strings. Sizes count the terminating NUL. */
/* 16: the operation succeeded. */
#define NSFMEND_QMR_SUCCESS "QMR_NSF_SUCCESS"
/* 34: the server does not log transactions (getTransLogStyle; archiving). */
#define NSFMEND_QMR_STYLE_NOT_LOGGED "QMR_NSF_TRANSLOG_STYLE_NOT_LOGGED"
/* 32: getTransLogStyle: circular logging (style 0). */
#define NSFMEND_QMR_STYLE_CIRCULAR "QMR_NSF_TRANSLOG_STYLE_CIRCULAR"
/* 31: getTransLogStyle: archive logging (style 1).
 *     Archiving operations: archiving refused, the style is 0 or 2. */
#define NSFMEND_QMR_STYLE_ARCHIVE "QMR_NSF_TRANSLOG_STYLE_ARCHIVE"
/* 31: getTransLogStyle: any style other than 0 and 1. */
#define NSFMEND_QMR_STYLE_UNKNOWN "QMR_NSF_TRANSLOG_STYLE_UNKNOWN"
/* 32: part of the vocabulary; no operation leaves it on return. */
#define NSFMEND_QMR_NO_TRANSLOGS "QMR_NSF_NO_TRANSLOGS_TO_ARCHIVE"

/* Texts of the archiving operations, besides the status strings:
 *   "Invalid destination directory: empty"
 *   "Destination directory too long (over 1022 characters): %s"
 *   "Archived name too long (over 1023 characters): %s" (the name it would be)
 *   "Source path too long (over 1023 characters): %s"   (the path it would be)
 *   "Error creating directory %s. %s"          (directory, system text)
 *   "Error copying file %s to %s. %s"          (extent, archived name, system text)
 *   "Fail to get transaction log directory"    (TRANSLOG_Path missing or empty)
 *   "Log directory too long (over 1022 characters): %s" (the folder it names;
 *                                              never cut, never taken relative)
 *   "No files under transaction log dir: %s\n" (nothing to capture)
 *   "Error recording archived file %s in %s. %s" (archived name, record,
 *                                              system text: the copy could
 *                                              not be read for its checksum)
 *   "Error writing archive record %s. %s"      (record, system text)
 * Texts of restoreNsfDB and recoverNsfDB, besides platform and system texts:
 *   "Path too long (over 1023 characters): %s"
 *   "Not a regular file (a symbolic link or special file is never replaced): %s"
 *   "The owner of the live database (user %u, group %u) cannot be kept by
 *    user %u; a database is never handed to another user: %s"
 *                                              (restoreNsfDB, one line: the
 *                                              live file's owner and group,
 *                                              this process's user, dbPath)
 * Texts of the operations that take the run lock (archiving, restoreNsfDB):
 *   "Another nsfmend run is working on %s; nothing was changed" (data directory)
 *   "Fail to lock %s, Reason=%s"               (lock file, system text)
 *
 * Object stores: wherever an operation takes an archive folder (destDir of
 * the archiving operations, backupDir of verifyNsfArchiveLogs) it also
 * takes an object store that speaks the S3 API, as s3://BUCKET/PREFIX/. The
 * objects are named as the files would be: PREFIX + "S0000042.TXN" +
 * suffix, and the archive records the same way, written after the extents
 * they name. Messages name an object by its URL. The store, the credentials
 * and the limits come from the environment, never from an argument:
 *   AWS_ACCESS_KEY_ID, AWS_SECRET_ACCESS_KEY, AWS_SESSION_TOKEN
 *   NSFMEND_S3_CREDENTIALS  else a file with aws_access_key_id,
 *                           aws_secret_access_key (and aws_session_token)
 *                           in its [default] section (or AWS_PROFILE's);
 *                           refused unless it is a regular file of this
 *                           user's that only its owner may read (0600)
 *   AWS_REGION or AWS_DEFAULT_REGION (us-east-1)
 *   AWS_ENDPOINT_URL        a store other than https://s3.REGION.amazonaws.com;
 *                           http:// only where it says so, never a
 *                           link-local (cloud metadata) address
 *   AWS_CA_BUNDLE           certificates to verify TLS with (it is always
 *                           verified)
 *   NSFMEND_S3_PATH_STYLE=1 HOST/BUCKET/KEY rather than BUCKET.HOST/KEY (an
 *                           endpoint given as an IP address always has it)
 *   NSFMEND_S3_CONNECT_TIMEOUT (10 s), NSFMEND_S3_LOW_SPEED_TIME (30 s below
 *   1 KiB/s ends a transfer), NSFMEND_S3_REQUEST_TIMEOUT (900 s for one
 *   request), NSFMEND_S3_RETRIES (4 resends of a request that met a 5xx
 *   answer, a 200 holding an error, or a dropped, cut or stalled
 *   connection), NSFMEND_S3_DEADLINE (1800 s for one request and all its
 *   resends)
 * An object is never overwritten by surprise: its name is looked up first.
 * One that carries the same SHA-256 (x-amz-meta-sha256, stored with every
 * object; an ETag is never taken for one) is the copy already; one that
 * carries the SHA-256 of the extent's start and is shorter (an earlier
 * capture of an extent then being filled) is replaced by the whole extent in
 * one PUT, which a store makes visible at once; anything else (an empty or
 * short object without that checksum too) stops the run with "Error
 * copying file %s to %s. %s" and is left as it was. An upload carries
 * Content-MD5 and its signed SHA-256, which the store checks before it
 * keeps the object, and counts once the store has answered it with success
 * and holds an object of that size and SHA-256; only then is an extent
 * reported archived. Where a text above gives a system text, an object
 * store's failure gives the store's own code, message and HTTP status
 * ("NoSuchBucket: The specified bucket does not exist (HTTP 404)"), or the
 * transfer's failure ("Timeout was reached: ..."), with the number of
 * attempts made when there was more than one.
 * Texts of the operations given an object store's location, besides those:
 *   "Not an object store location (%s; s3://BUCKET/PREFIX/): %s" (what is
 *                                              wrong, the location)
 *   "AWS_ENDPOINT_URL is not a store's address (%s): %s" (what is wrong,
 *                                              the value)
 *   "%s must be a whole number from 0 to 86400, not %s" (variable, value)
 *   "%s must be 0 or 1, not %s"           (variable, value)
 *   "%s is not a region's name: %s"            (variable, value)
 *   "No credentials for the object store: set AWS_ACCESS_KEY_ID and
 *    AWS_SECRET_ACCESS_KEY, or NSFMEND_S3_CREDENTIALS to a file holding them"
 *   "Cannot read the credentials file %s, Reason=%s" (file, system text)
 *   "The credentials file %s must be a regular file of this user's that only
 *    its owner may read (mode 0600); it is mode %04o of user %u"
 *   "The credentials file %s has no [%s] section with aws_access_key_id and
 *    aws_secret_access_key"                    (file, section)
 *   "libcurl %s is too old for object stores: 7.86.0 or later signs what it
 *    is given"                                 (the version loaded)
 *
 * One run at a time: the archiving operations and restoreNsfDB hold an
 * advisory lock on the file .nsfmend.lock in the server's data directory
 * (OSGetDataDirectory) while they work, as nsfmend's restore and media
 * recovery do. An operation that finds it held changes nothing and leaves
 * the text above.
 *
 * Every file these operations write (an archived copy, a restored database)
 * is written to a hidden temporary file in the destination's folder,
 * ".<name>.nsfmend-<8 hex digits>", synced and renamed into place, and the
 * folder synced: a file is always wholly old or wholly new, whenever the
 * process is stopped. A backup agent picking up S*.TXN* never takes such a
 * file; the next run removes those a stopped run left.
 *
 * Archive records: every archiving run (spoolNsfArchiveLogs, DoArchiveLogs
 * and archiveHalfFilledLogs, each with its capture) writes into the
 * destination folder one record of what it archived, through the same
 * temporary-file writes, so a record too is wholly old or wholly new. Its
 * name is "nsfmend-archive-" + the UTC time of its writing as
 * YYYYMMDDTHHMMSSZ + ".sha256" (later than every record already there, so
 * the names sort as the runs ran); it is never hidden and never matches
 * S*.TXN*. It is text that sha256sum -c checks, in that folder:
 *   # nsfmend archive record 1: sha256sum -c <record> checks it in its folder
 *   # size 262144 log 00C2B1A4000000010000000200000003
 *   5f9c...(64 hex digits)...  S0000001.TXN
 *   # size 1288
 *   ab41...  S0000004.TXN
 * Each checksum line ("<SHA-256>  <archived name>", as sha256sum writes it,
 * escapes included) follows a comment with the file's size in bytes and,
 * for an extent the server handed out, the log ID it came with (the UNID's
 * four words as 32 hex digits); a file captured from the log directory has
 * none. The loop records each extent after its copy is on disk and before
 * the server is told it was archived; the capture records its copies when
 * it ends, also after a failure. A file goes into a run's record only when
 * the records there do not already give its size and checksum, so a run
 * that copies nothing writes none. For a name in several records, the
 * latest record's line is the one in force (a capture that a later run
 * completed). The extents keep their names and bytes; nothing else in the
 * folder changes.
 */

/*
 * Archives every transaction-log extent the server offers, then captures the
 * files of the log directory that have no copy yet (the extents still being
 * filled).
 *
 * destDir: destination directory, at most 1022 characters; a "/" is added
 *   when it lacks one; it is created (one level) when missing.
 * suffix: appended to every archived name; may be empty. Archived names are
 *   destDir + "S" + the extent number in at least seven digits + ".TXN" +
 *   suffix, e.g. /backup/S0000042.TXN-full; captured files keep their own
 *   name + suffix.
 * timeStamp: may be NULL; otherwise at least NSFMEND_TIMESTAMP_SIZE bytes,
 *   receives the local time when archiving began ("%Y-%m-%d-%H-%M-%S").
 * timeFormat: at least NSFMEND_TIMEFORMAT_SIZE bytes; receives that format
 *   text. Written only when timeStamp is given.
 * msg: message buffer. On return it holds "QMR_NSF_SUCCESS" when every
 *   extent was archived and captured; otherwise the text of the failure.
 *   QMR_NSF_TRANSLOG_STYLE_NOT_LOGGED: logging is off; nothing done.
 *   QMR_NSF_TRANSLOG_STYLE_ARCHIVE: the style is 0 or 2; nothing done.
 *
 * An extent is reported archived to the server only after its copy, the
 * destination folder's entry for it and the run's archive record naming it
 * have reached the disk. When the archived
 * name exists already: a byte-identical file is the extent's copy (it is
 * reported archived, nothing is copied); a file whose bytes are the start of
 * the extent's (an earlier capture of an extent then being filled) is
 * replaced whole by the new copy; anything else stops the run with
 * "Error copying file %s to %s. %s" and the system text for EEXIST, and is
 * left as it was. Extents already reported stay reported, copies already
 * made stay, and a rerun after any failure or interruption goes on where the
 * last one stopped. When the loop and the capture both fail, the loop's
 * text is kept: it names the cause, which the capture then only meets again.
 */
void spoolNsfArchiveLogs(const char *destDir, const char *suffix, char *timeStamp,
                           char *timeFormat, char *msg);

/*
 * The archiving run itself, as spoolNsfArchiveLogs but with the suffix
 * first, a destination directory that must already end with "/" (it is
 * used as given) and a result: 0 success ("QMR_NSF_SUCCESS"), 1 failure.
 */
uint16_t DoArchiveLogs(const char *suffix, const char *destDir, char *timeStamp,
                       char *timeFormat, char *msg);

/*
 * Copies every regular file of logDir (or link to one) except
 * "nlogctrl.lfh", in ascending byte order of the names, to destDir + name +
 * suffix, under the rules of the archive loop above: an identical copy is
 * kept, an earlier capture of the same file completed, anything else of that
 * name is a failure. FIFOs, sockets, devices and folders are skipped, never
 * opened. destDir must end with "/".
 * Hidden names (beginning with ".": temporary files, a stopped run's own
 * among them) and archive records are no files of the log and are never
 * copied. A file that fails does not stop the capture: every other one is
 * still copied, so one bad name never leaves the newest transactions
 * unsaved. The copies go into the run's archive record.
 * Result 1: every file has its copy; msg untouched.
 * Result 0: msg holds the system text for a log directory that cannot be
 *   listed, "No files under transaction log dir: %s\n" (no regular file to
 *   capture), or the first failure: "Error copying file %s to %s. %s" (a
 *   name that cannot be looked up fails too), a record text or a too-long
 *   text above; or a run-lock text.
 */
int archiveHalfFilledLogs(const char *logDir, const char *destDir, const char *suffix,
                          char *msg);

/*
 * Puts backupFile in place of the live database dbPath: takes the database
 * offline, copies the file beside it and renames the copy over it, brings
 * the database online. unused is ignored. dbPath must be a regular file, or
 * not exist yet: a symbolic link, FIFO, device or folder there is refused
 * and nothing is followed. A relative dbPath names a database in the
 * server's data directory (OSGetDataDirectory), as the server names it,
 * for the copy as for offline and online; a relative backupFile is taken
 * from the working directory.
 * Access: a restore brings back content, not the permissions of wherever
 * the backup lay. The copy takes the backup's access and modification
 * times; a live dbPath keeps its own owner, group and mode (set-id bits
 * included). A new dbPath takes the backup's owner and group (where this
 * process may give them) and mode, less any write access for group or
 * others that the backup's folder and dbPath's folder do not both give
 * already (a sticky folder gives none). A process that may not give the
 * copy the live file's owner and group (not root, and not that owner with
 * that group among its own) is refused with the owner text above before
 * the database is taken offline: a database is never handed to the
 * process's user. The temporary copy is mode 0600 until it takes its
 * mode, and the offline mark below is mode 0600, whatever the umask.
 * While the database is offline a hidden mark ".<name>.nsfmend-offline"
 * lies beside it; when an interrupted restore left one, going offline is
 * retried once after bringing the database online, so a rerun gets through.
 * The mark cannot tell that offline state from one an administrator made
 * by hand since (online, then offline again): that database is taken for
 * the interrupted restore's too, and is online when the restore is done;
 * remove the mark to keep it offline (the restore then fails to take it
 * offline and changes nothing).
 * msg: "QMR_NSF_SUCCESS", or the platform text when going offline fails
 *   (any status; nothing is copied), the system text when the copy fails
 *   (the live file is as it was and the database is brought back online),
 *   the platform text when bringing it online fails (the copy has been
 *   made; the database stays offline with its mark, for the next restore),
 *   or a text above.
 */
void restoreNsfDB(const char *backupFile, const char *dbPath, void *unused, char *msg);

/*
 * Rolls backupFile forward through the transaction logs, in place.
 * dateTime: cut-off time in GMT+0, "MM/DD/YYYY HH:MM[:SS]" with a 24-hour
 *   clock; NULL or empty: up to the latest logged transaction.
 * newDbiid, newRepid, thirdOption: non-zero asks for a new database instance
 *   ID, a new replica ID, or the third recovery option (at most one is used:
 *   thirdOption before newRepid before newDbiid; with a cut-off time a new
 *   instance ID is not passed on).
 * msg: "QMR_NSF_SUCCESS" or the platform text for the failing status (a
 *   cut-off text that cannot be read gives its parse status; nothing is
 *   recovered then). On success one line is printed on standard output.
 */
void recoverNsfDB(const char *backupFile, const char *dateTime, int newDbiid, int newRepid,
                    int thirdOption, char *msg);

/*
 * Checks that backupDir holds what a point-in-time recovery needs, as its
 * archive records (above) and the names there tell.
 *
 * What counts as an archived extent: a name as archiving gives it, S +
 * seven or more digits + ".TXN" + a suffix. When backupDir holds a record
 * that can be read, only suffixes its lines use count, and a folder never
 * does: an editor's copy such as S0000002.TXN.bak, or a folder named like
 * an extent, is not looked at. Without any record (an archive made before
 * records were written) every suffix counts, as does anything of such a
 * name. Other files are not looked at.
 *
 * It checks that the extents form an unbroken run of numbers from the first
 * extent present or named by a record to the last (a lost first or newest
 * extent is missing too), that every one can be read, that every file the
 * lines in force list is there with the recorded size and SHA-256, that
 * the records name extents of one log only, and that copies of one extent
 * under several suffixes agree (each equal to the longest, or its start: a
 * capture taken while the server was still filling it). A copy that has
 * grown from its recorded bytes (a run that completed a capture was stopped
 * before its record) is no fault. Files no record lists are checked by
 * their names as above only; nsfmend OPT=VERIFY counts them. With logDir
 * (the server's log directory; NULL or empty: not asked), also that
 * backupDir holds every extent the server holds there (S%07u.TXN, as the
 * server names them). Only reads: no lock is taken, and the runtime is not
 * needed.
 *
 * What it cannot tell: a run that archived into another folder leaves no
 * trace in backupDir (only logDir shows the extents it lacks); and a copy
 * that no longer matches its record is reported even when a recovery would
 * not need it (a damaged early capture beside the whole extent): damage to
 * an archive is worth knowing about.
 * msg: "QMR_NSF_SUCCESS", or the first of these that applies, in this order:
 *   "Invalid backup directory: empty"          (backupDir NULL or empty)
 *   "Path too long (over 1023 characters): %s" (backupDir or logDir)
 *   "Fail to list directory %s, Reason=%s"     (backupDir, then logDir; system text)
 *   "No archived extents in %s"                (backupDir)
 *   "Cannot read archived extent %s, Reason=%s" (the file; system text, or
 *                                              "Not a regular file")
 *   "Missing extent %s in %s (missing: %s)"    (the first missing extent's
 *      name, backupDir, every missing one: "S0000003.TXN, S0000005.TXN to
 *      S0000007.TXN"; past 20 such ranges ", and N more" counts the rest)
 *   "Cannot read archive record %s, Reason=%s" (the record; system text, or
 *                                              "Not a regular file")
 *   "Archive record %s is damaged at line %zu" (the record, the first line
 *                                              that is not a record's)
 *   "Archived file %s listed in archive record %s is missing" (the file,
 *                                              the record's name)
 *   "Cannot read archived file %s, Reason=%s"  (as for an extent)
 *   "Archived file %s does not match archive record %s (%s)" (the file, the
 *      record's name, "size N, recorded M" or "same size, another SHA-256",
 *      and ", recorded as NAME" when the file was compared with the line of
 *      another copy of its extent)
 *   "Extents of more than one log in %s: %s"   (backupDir, each log ID with
 *      the first extent recorded with it: "ID (from S0000001.TXN), ...")
 *   "Copies of extent %s disagree: %s and %s"  (extent name, the longest
 *      copy, the first by name that disagrees with it; of copies equally
 *      long, the one first in byte order of the names counts as longest)
 *   "Extents of the log directory %s missing from %s: %s" (logDir,
 *      backupDir, the extents the server holds that backupDir lacks, named
 *      as above)
 */
void verifyNsfArchiveLogs(const char *backupDir, const char *logDir, char *msg);

/*
 * msg: "QMR_NSF_TRANSLOG_STYLE_CIRCULAR" (0), "..._ARCHIVE" (1),
 *   "..._UNKNOWN" (any other style), "..._NOT_LOGGED" (logging off), or the
 *   platform text for another failing status.
 */
void getTransLogStyle(char *msg);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* NSFMEND_AGENT_H */
