// notesemu: builds and inspects an emulated server (data directory,
// notes.ini, log extents, databases) for tests, the demo and administrators.
// Errors are one line on standard error and exit status 1.
#include <errno.h>
#include <getopt.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "formats/codec.h"
#include "formats/dbfile.h"
#include "formats/extent.h"
#include "formats/log_control.h"
#include "runtime/files.h"
#include "runtime/messages.h"
#include "runtime/paths.h"
#include "runtime/runtime.h"
#include "runtime/timedate.h"
#include "server/change.h"
#include "server/presence.h"
#include "server/state.h"
#include "server/txlog.h"

namespace {

const char kUsage[] =
    "usage: notesemu [--ini PATH] COMMAND [ARGS]\n"
    "       notesemu --help | --version\n"
    "  init DIR [--style N] [--logging on|off]\n"
    "  create DB [--unlogged]\n"
    "  put DB NOTEID TEXT [--user NAME] [--at TIME]\n"
    "  delete DB NOTEID [--user NAME] [--at TIME]\n"
    "  abort DB NOTEID TEXT [--user NAME] [--at TIME]\n"
    "  backup DB FILE\n"
    "  show DB\n"
    "  server start|stop|status\n"
    "  offline DB | online DB\n"
    "  logs\n"
    "  rollover\n"
    "  reuse\n"
    "  pad DB SIZE\n"
    "DB is relative to the data directory unless absolute; TIME is ISO 8601 UTC\n"
    "(2013-11-15T12:59:00Z). The server is found with --ini, else\n"
    "$NOTES_DATA_DIR/notes.ini. Options may stand anywhere; -- ends them, so a\n"
    "TEXT may begin with -.\n";

int Fail(const std::string &what) {
    (void)fprintf(stderr, "notesemu: %s\n", what.c_str());
    return 1;
}

int FailStatus(const std::string &what, STATUS st) {
    std::string text = emu::StatusText(st);
    if (text.empty()) text = "unknown error";
    return Fail(what + ": " + text + " (status " + std::to_string(st) + ")");
}

struct Args {
    std::string ini;
    std::vector<std::string> positional;
    std::string user = "admin";
    std::string at;
    std::string style = "1";
    std::string logging = "on";
    bool unlogged = false;
    bool haveAt = false;
    bool help = false, version = false;
};

enum Option { kIni = 256, kUser, kAt, kStyle, kLogging, kUnlogged, kHelp, kVersion };

const struct option kOptions[] = {
    {"ini", required_argument, nullptr, kIni},         {"user", required_argument, nullptr, kUser},
    {"at", required_argument, nullptr, kAt},           {"style", required_argument, nullptr, kStyle},
    {"logging", required_argument, nullptr, kLogging}, {"unlogged", no_argument, nullptr, kUnlogged},
    {"help", no_argument, nullptr, kHelp},             {"version", no_argument, nullptr, kVersion},
    {nullptr, 0, nullptr, 0},
};

// getopt_long, so options stand anywhere, take "--name=value" or "--name
// value" and may be abbreviated. Its own messages name the tool as "notesemu"
// whatever path it was started by, like every other error here. False after
// such a message.
bool ParseArgs(int argc, char **argv, Args *a) {
    std::vector<char *> args(argv, argv + argc + 1);  // with the closing null
    char name[] = "notesemu";
    args[0] = name;
    int opt;
    while ((opt = getopt_long(argc, args.data(), "", kOptions, nullptr)) != -1) {
        switch (opt) {
            case kIni: a->ini = optarg; break;
            case kUser: a->user = optarg; break;
            case kAt: a->at = optarg, a->haveAt = true; break;
            case kStyle: a->style = optarg; break;
            case kLogging: a->logging = optarg; break;
            case kUnlogged: a->unlogged = true; break;
            case kHelp: a->help = true; break;
            case kVersion: a->version = true; break;
            default: return false;
        }
    }
    a->positional.assign(args.begin() + optind, args.begin() + argc);
    return true;
}

bool ParseNoteId(const std::string &text, uint32_t *id) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v == 0 || v > 0xFFFFFFFFu) return false;
    *id = static_cast<uint32_t>(v);
    return true;
}

// Bytes, or a count of K, M or G (powers of 1024).
bool ParseSize(const std::string &text, uint64_t *out) {
    if (text.empty() || text.size() > 20) return false;
    uint64_t v = 0;
    size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; i++) {
        if (v > (UINT64_MAX - 9) / 10) return false;
        v = v * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    if (i == 0) return false;
    int shift = 0;
    if (i + 1 == text.size()) {
        char unit = text[i];
        shift = unit == 'K' ? 10 : unit == 'M' ? 20 : unit == 'G' ? 30 : -1;
        if (shift < 0) return false;
    } else if (i != text.size()) {
        return false;
    }
    if (v > (UINT64_MAX >> shift)) return false;
    *out = v << shift;
    return true;
}

bool ParseLong(const std::string &text, long *out) {
    if (text.empty()) return false;
    char *end = nullptr;
    errno = 0;
    long v = strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') return false;
    *out = v;
    return true;
}

// Tabs, newlines and backslashes would break the one-note-a-line format, and
// a NUL would end the text early.
std::string Escape(const std::string &s) {
    std::string out;
    for (char c : s) {
        if (c == '\\') out += "\\\\";
        else if (c == '\t') out += "\\t";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\0') out += "\\0";
        else out += c;
    }
    return out;
}

int MakeDirs(const std::string &path) {
    if (path.empty() || path == "/" || path == ".") return 0;
    struct stat st;
    if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    int err = MakeDirs(emu::DirName(path));
    if (err != 0) return err;
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) return errno;
    return 0;
}

int CmdInit(const Args &a) {
    if (a.positional.size() != 2) return Fail("init needs DIR");
    long style;
    if (!ParseLong(a.style, &style) || style < 0 || style > 0xFFFF)
        return Fail("--style needs a number from 0 to 65535");
    if (a.logging != "on" && a.logging != "off") return Fail("--logging takes on or off");
    std::string dir = a.positional[1];
    int err = MakeDirs(dir);
    if (err != 0) return Fail("cannot create " + dir + ": " + strerror(err));
    dir = emu::AbsolutePath(dir);
    std::string ini = emu::JoinPath(dir, "notes.ini");
    if (access(ini.c_str(), F_OK) == 0) return Fail(ini + " already exists");
    std::string text = "Directory=" + dir + "\n" +
                       "TRANSLOG_Status=" + (a.logging == "on" ? "1" : "0") + "\n" +
                       "TRANSLOG_Style=" + std::to_string(style) + "\n" +
                       "TRANSLOG_Path=logdir\n" +
                       "NOTESEMU_Extent_Records=" + std::to_string(emu::kDefaultExtentRecords) + "\n";
    err = emu::WriteFileAtomic(ini, text, 0644);
    if (err != 0) return Fail("cannot write " + ini + ": " + strerror(err));
    STATUS st = emu::LoadIni(ini);
    if (st != NOERROR) return FailStatus("cannot read " + ini, st);
    emu::LogConfig cfg;
    st = emu::LoadLogConfig(&cfg);
    if (st == NOERROR) st = emu::CreateLog(cfg, nullptr);
    if (st != NOERROR) return FailStatus("cannot create the log in " + cfg.logDir, st);
    st = emu::CreateDatabase(cfg, emu::JoinPath(dir, emu::kDirectoryDb), true, nullptr);
    if (st != NOERROR) return FailStatus("cannot create names.nsf", st);
    return 0;
}

struct Server {
    emu::LogConfig cfg;
};

int OpenServer(const Args &a, Server *s) {
    std::string ini = a.ini;
    if (ini.empty()) {
        const char *dataDir = getenv("NOTES_DATA_DIR");
        if (dataDir == nullptr || dataDir[0] == '\0')
            return Fail("no server: give --ini PATH or set NOTES_DATA_DIR");
        ini = emu::JoinPath(dataDir, "notes.ini");
    }
    STATUS st = emu::LoadIni(ini);
    if (st != NOERROR) return FailStatus("cannot read " + ini, st);
    st = emu::LoadLogConfig(&s->cfg);
    if (st != NOERROR) return FailStatus(ini, st);
    return 0;
}

int CmdCreate(const Args &a, const Server &s) {
    if (a.positional.size() != 2) return Fail("create needs DB");
    std::string path = emu::ResolveDbPath(s.cfg.dataDir, a.positional[1]);
    int err = MakeDirs(emu::DirName(path));
    if (err != 0) return Fail("cannot create the folder of " + path + ": " + strerror(err));
    emu::DirLock lock(s.cfg.dataDir);
    STATUS st = emu::CreateDatabase(s.cfg, path, !a.unlogged, nullptr);
    return st == NOERROR ? 0 : FailStatus("cannot create " + path, st);
}

int CmdChange(const Args &a, const Server &s, emu::ChangeKind kind) {
    bool withText = kind != emu::ChangeKind::kDelete;
    size_t want = withText ? 4 : 3;
    if (a.positional.size() != want)
        return Fail(a.positional[0] + (withText ? " needs DB NOTEID TEXT" : " needs DB NOTEID"));
    uint32_t noteId;
    if (!ParseNoteId(a.positional[2], &noteId))
        return Fail("note ID must be a decimal number from 1 to 4294967295: " + a.positional[2]);
    int64_t when = emu::NowHundredths();
    if (a.haveAt && !emu::ParseIsoUtc(a.at, &when))
        return Fail("time must be ISO 8601 UTC, like 2013-11-15T12:59:00Z: " + a.at);
    std::string path = emu::ResolveDbPath(s.cfg.dataDir, a.positional[1]);
    emu::DirLock lock(s.cfg.dataDir);
    STATUS st = emu::WriteChange(s.cfg, path, kind, noteId, withText ? a.positional[3] : "",
                                 a.user, when, nullptr);
    return st == NOERROR ? 0 : FailStatus(a.positional[0] + " " + path, st);
}

int CmdBackup(const Args &a, const Server &s) {
    if (a.positional.size() != 3) return Fail("backup needs DB FILE");
    std::string path = emu::ResolveDbPath(s.cfg.dataDir, a.positional[1]);
    emu::DirLock lock(s.cfg.dataDir);
    // Copied note by note with every checksum checked, so the copy is never
    // torn and never carries damage.
    STATUS st = emu::RewriteDb(path, a.positional[2], nullptr, {});
    if (st != NOERROR) return FailStatus("cannot back up " + path + " to " + a.positional[2], st);
    return 0;
}

int CmdShow(const Args &a, const Server &s) {
    if (a.positional.size() != 2) return Fail("show needs DB");
    std::string path = emu::ResolveDbPath(s.cfg.dataDir, a.positional[1]);
    // Checked whole first, so nothing is printed from a damaged file.
    emu::DbHeader db;
    uint64_t live = 0;
    STATUS st = emu::CheckDb(path, &db, &live);
    if (st != NOERROR) return FailStatus("cannot read " + path, st);
    printf("path: %s\n", path.c_str());
    printf("instance-id: %s\n", emu::UnidHex(db.instanceId).c_str());
    printf("replica-id: %s\n", emu::UnidHex(db.replicaId).c_str());
    printf("log-id: %s\n", emu::UnidHex(db.logId).c_str());
    printf("logged: %s\n", db.logged ? "yes" : "no");
    printf("last-sequence: %llu\n", static_cast<unsigned long long>(db.lastSeq));
    printf("last-extent: %u\n", static_cast<unsigned>(db.lastExtent));
    printf("last-change: %s\n", db.lastTime != 0 ? emu::FormatIsoUtc(db.lastTime).c_str() : "none");
    printf("state: %s\n", emu::IsOffline(s.cfg.dataDir, path) ? "offline" : "online");
    printf("notes: %llu\n", static_cast<unsigned long long>(live));
    emu::DbFileScan file;
    st = file.Open(path, &db);
    for (bool done = false; st == NOERROR && !done;) {
        emu::NoteHead head;
        st = file.scanner()->Next(&head, &done);
        if (st != NOERROR || done || head.deleted) continue;
        std::string text;
        st = file.scanner()->Finish(&text, nullptr);
        if (st != NOERROR) continue;
        printf("%u\t%s\t%s\t%s\n", static_cast<unsigned>(head.id),
               emu::FormatIsoUtc(head.modified).c_str(), Escape(head.user).c_str(),
               Escape(text).c_str());
    }
    if (st != NOERROR) return FailStatus("cannot read " + path, st);
    return fflush(stdout) == 0 ? 0 : Fail(std::string("cannot write output: ") + strerror(errno));
}

// A test aid for large files: deleted stubs whose text (zero bytes, written
// as holes) takes up space after the last note, until the file holds at
// least SIZE bytes: a database grown with white space before its backup.
// Nothing is logged, and `show` lists no deleted note.
int CmdPad(const Args &a, const Server &s) {
    uint64_t target = 0;
    if (a.positional.size() != 3 || !ParseSize(a.positional[2], &target))
        return Fail("pad needs DB SIZE (bytes, or with K, M or G)");
    std::string path = emu::ResolveDbPath(s.cfg.dataDir, a.positional[1]);
    emu::DirLock lock(s.cfg.dataDir);
    if (emu::IsOffline(s.cfg.dataDir, path)) return FailStatus("pad " + path, EMU_ERR_DB_OFFLINE);
    emu::DbFileScan file;
    emu::DbHeader header;
    STATUS st = file.Open(path, &header);
    if (st != NOERROR) return FailStatus("cannot read " + path, st);
    emu::AtomicFile out;
    int err = out.Create(path);
    if (err != 0) return Fail("cannot write " + path + ": " + strerror(err));
    emu::FileSink sink(out.fd());
    emu::DbWriter w(&sink);
    st = w.Begin();
    uint32_t lastId = 0;
    for (bool done = false; st == NOERROR && !done;) {
        emu::NoteHead head;
        st = file.scanner()->Next(&head, &done);
        if (st != NOERROR || done) continue;
        lastId = head.id;
        st = w.Copy(head, file.scanner());
    }
    emu::NoteHead stub;
    stub.deleted = true;
    stub.modified = emu::NowHundredths();
    stub.user = "pad";
    while (st == NOERROR && sink.size() < target) {
        if (lastId == 0xFFFFFFFFu) return Fail("pad: no note ID left above the last one");
        stub.id = ++lastId;
        stub.textLength = static_cast<uint32_t>(std::min<uint64_t>(emu::kMaxNoteText, target - sink.size()));
        st = w.AddZeros(stub);
    }
    if (st == NOERROR) st = w.End(header);
    if (st == NOERROR) st = emu::FileStatus(sink.Flush());
    if (st == NOERROR) st = emu::FileStatus(out.Commit());
    return st == NOERROR ? 0 : FailStatus("cannot pad " + path, st);
}

int CmdServer(const Args &a, const Server &s) {
    if (a.positional.size() != 2) return Fail("server needs start, stop or status");
    const std::string &what = a.positional[1];
    emu::DirLock lock(s.cfg.dataDir);
    emu::ServerState state;
    STATUS st = emu::LoadServerState(s.cfg.dataDir, &state);
    if (st != NOERROR) return FailStatus("cannot read the server state", st);
    if (what == "status") {
        printf("%s\n", state.running ? "running" : "stopped");
        return 0;
    }
    if (what != "start" && what != "stop") return Fail("server needs start, stop or status");
    state.running = what == "start";
    const long presence = state.presence;
    // A stopped server holds no database, offline or otherwise, and no
    // process stands for it.
    if (!state.running) {
        state.offline.clear();
        state.presence = 0;
    } else {
        emu::StartPresence(s.cfg, &state);
    }
    st = emu::SaveServerState(s.cfg.dataDir, state);
    if (st != NOERROR) return FailStatus("cannot write the server state", st);
    if (!state.running) emu::AwaitPresenceGone(presence);
    return 0;
}

// As an administrator at the server's console: one database offline or
// back online, by the server's own rules.
int CmdOffline(const Args &a, const Server &s) {
    const std::string &what = a.positional[0];
    if (a.positional.size() != 2) return Fail(what + " needs DB");
    std::string path = emu::ResolveDbPath(s.cfg.dataDir, a.positional[1]);
    STATUS st = emu::ChangeOffline(s.cfg.dataDir, path, what == "offline");
    return st == NOERROR ? 0 : FailStatus(what + " " + path, st);
}

// The log's state and the extents present in its folder; 0, or 1 after the
// error line.
int ReadLog(const Server &s, emu::LogControl *ctl, std::vector<uint32_t> *numbers) {
    STATUS st = emu::LoadControl(s.cfg, ctl);
    if (st != NOERROR) return FailStatus("cannot read the log control file", st);
    int err = emu::ListExtents(s.cfg.logDir, numbers);
    if (err != 0) return Fail("cannot list " + s.cfg.logDir + ": " + strerror(err));
    return 0;
}

int CmdLogs(const Args &a, const Server &s) {
    if (a.positional.size() != 1) return Fail("logs takes no arguments");
    emu::LogControl ctl;
    std::vector<uint32_t> numbers;
    if (ReadLog(s, &ctl, &numbers) != 0) return 1;
    for (uint32_t n : numbers) {
        emu::Extent ext;
        STATUS st = emu::ReadExtent(s.cfg.logDir, n, &ext);
        if (st != NOERROR) return FailStatus("cannot read " + emu::ExtentName(n), st);
        const char *state = n == ctl.current ? "current"
                            : ctl.archived.count(n) ? "archived"
                                                    : "full";
        printf("%s\t%zu\t%s\n", emu::ExtentName(n).c_str(), ext.records.size(), state);
    }
    return 0;
}

int CmdRollover(const Args &a, const Server &s) {
    if (a.positional.size() != 1) return Fail("rollover takes no arguments");
    emu::DirLock lock(s.cfg.dataDir);
    STATUS st = emu::RollOver(s.cfg, nullptr);
    return st == NOERROR ? 0 : FailStatus("cannot roll the log over", st);
}

// As a server reusing its archived extents: they leave the log folder.
int CmdReuse(const Args &a, const Server &s) {
    if (a.positional.size() != 1) return Fail("reuse takes no arguments");
    emu::DirLock lock(s.cfg.dataDir);
    emu::LogControl ctl;
    std::vector<uint32_t> numbers;
    if (ReadLog(s, &ctl, &numbers) != 0) return 1;
    for (uint32_t n : numbers) {
        if (n == ctl.current || ctl.archived.count(n) == 0) continue;
        std::string path = emu::ExtentPath(s.cfg.logDir, n);
        if (unlink(path.c_str()) != 0) return Fail("cannot remove " + path + ": " + strerror(errno));
        printf("%s\n", emu::ExtentName(n).c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    Args a;
    if (argc < 1 || !ParseArgs(argc, argv, &a)) return 1;
    if (a.help || (!a.positional.empty() && a.positional[0] == "help")) {
        (void)fputs(kUsage, stdout);
        return 0;
    }
    if (a.version) {
        printf("notesemu (nsfmend) %s\n", NSFMEND_VERSION);
        return 0;
    }
    if (a.positional.empty()) {
        (void)fputs(kUsage, stderr);
        return 1;
    }
    const std::string &cmd = a.positional[0];
    if (cmd == "init") return CmdInit(a);
    Server s;
    static const char *const kKnown[] = {"create", "put",    "delete",  "abort",  "backup",
                                         "show",   "server", "offline", "online", "logs",
                                         "rollover", "reuse", "pad"};
    bool known = false;
    for (const char *k : kKnown) known = known || cmd == k;
    if (!known) return Fail("unknown command " + cmd + " (see notesemu help)");
    int rc = OpenServer(a, &s);
    if (rc != 0) return rc;
    if (cmd == "create") return CmdCreate(a, s);
    if (cmd == "put") return CmdChange(a, s, emu::ChangeKind::kPut);
    if (cmd == "delete") return CmdChange(a, s, emu::ChangeKind::kDelete);
    if (cmd == "abort") return CmdChange(a, s, emu::ChangeKind::kAbort);
    if (cmd == "backup") return CmdBackup(a, s);
    if (cmd == "show") return CmdShow(a, s);
    if (cmd == "server") return CmdServer(a, s);
    if (cmd == "offline" || cmd == "online") return CmdOffline(a, s);
    if (cmd == "logs") return CmdLogs(a, s);
    if (cmd == "rollover") return CmdRollover(a, s);
    if (cmd == "pad") return CmdPad(a, s);
    return CmdReuse(a, s);
}
