#!/usr/bin/env bats
# notesemu: building and inspecting an emulated server from the command line.

load helpers

emu() { "$NOTESEMU" "$@"; }

# `show` without the identity lines, which are random per database.
notes_of() { emu show "$1" | grep -v -e '-id: '; }

@test "init writes notes.ini, the log folder and a logged names.nsf, and never clobbers" {
    new_server
    run cat "$SERVER/notes.ini"
    [ "${lines[0]}" = "Directory=$SERVER" ]
    [[ "$output" == *$'\nTRANSLOG_Status=1\nTRANSLOG_Style=1\nTRANSLOG_Path=logdir\n'* ]]
    [ -f "$SERVER/logdir/nlogctrl.lfh" ]
    run -0 emu logs
    [ "$output" = $'S0000001.TXN\t0\tcurrent' ]
    run -0 emu show ""
    [[ "$output" == *$'\nlogged: yes\n'* ]]
    [[ "$output" == *$'\nstate: online\nnotes: 0' ]]
    run -1 emu init "$SERVER"
    [[ "$output" == "notesemu: "*"notes.ini already exists" ]]
}

@test "init options set the style and logging" {
    emu init "$BATS_TEST_TMPDIR/d" --style 2 --logging off
    grep -qx 'TRANSLOG_Style=2' "$BATS_TEST_TMPDIR/d/notes.ini"
    grep -qx 'TRANSLOG_Status=0' "$BATS_TEST_TMPDIR/d/notes.ini"
    run -1 emu init "$BATS_TEST_TMPDIR/e" --logging maybe
    run -1 emu init "$BATS_TEST_TMPDIR/f" --style x
}

@test "put, delete and abort change notes; show lists live notes in ID order" {
    new_server
    emu create mail/a.nsf
    emu put mail/a.nsf 20 "twenty" --at 2013-11-15T10:00:00Z
    emu put mail/a.nsf 3 "three" --user "CN=Ann Lee/O=Acme" --at 2013-11-15T11:00:00Z
    emu put mail/a.nsf 20 "twenty again" --at 2013-11-15T12:00:00Z
    emu put mail/a.nsf 7 $'tab\there' --at 2013-11-15T12:30:00Z
    emu delete mail/a.nsf 7 --at 2013-11-15T13:00:00Z
    emu abort mail/a.nsf 3 "never" --at 2013-11-15T14:00:00Z
    run notes_of mail/a.nsf
    [ "$output" = "path: $SERVER/mail/a.nsf
logged: yes
last-sequence: 6
last-extent: 2
last-change: 2013-11-15T14:00:00Z
state: online
notes: 2
3	2013-11-15T11:00:00Z	CN=Ann Lee/O=Acme	three
20	2013-11-15T12:00:00Z	admin	twenty again" ]
    run emu logs
    [ "$output" = $'S0000001.TXN\t4\tfull\nS0000002.TXN\t2\tcurrent' ]
}

@test "bad input is one line on stderr and exit status 1" {
    new_server
    for args in "put names.nsf 0 x" "put names.nsf 12x x" "put names.nsf 4294967296 x" \
                "delete names.nsf 5" "put names.nsf 1 x --at 11/15/2013" "create names.nsf" \
                "show missing.nsf" "frobnicate" "server restart" "put names.nsf 1"; do
        run emu $args
        [ "$status" -eq 1 ] || { echo "args: $args"; false; }
        [ "${#lines[@]}" -eq 1 ] || { echo "args: $args: $output"; false; }
        [[ "$output" == "notesemu: "* ]]
    done
    unset NOTES_DATA_DIR
    run -1 emu logs
    [[ "$output" == *"NOTES_DATA_DIR"* ]]
}

@test "--ini finds the server without NOTES_DATA_DIR" {
    new_server
    unset NOTES_DATA_DIR
    run emu --ini "$SERVER/notes.ini" server status
    [ "$output" = "stopped" ]
    emu --ini "$SERVER/notes.ini" server start
    run emu server status --ini "$SERVER/notes.ini"
    [ "$output" = "running" ]
}

# What a running server visibly does: one process holds the log folder open
# from the start to the stop, and no longer.
@test "a started server is a process holding its log folder until it stops" {
    new_server
    holding() {
        local fd
        for fd in /proc/[0-9]*/fd/*; do
            [ "$(readlink "$fd" 2>/dev/null)" = "$SERVER/logdir" ] && echo "${fd%/fd/*}"
        done | sort -u
    }
    [ -z "$(holding)" ]
    emu server start
    emu server start  # once is enough: still one
    for _ in $(seq 50); do [ -n "$(holding)" ] && break; sleep 0.1; done
    [ "$(holding | wc -l)" -eq 1 ]
    emu server stop
    [ -z "$(holding)" ]
    # It goes by itself with the data folder it stood for.
    emu server start
    for _ in $(seq 50); do [ -n "$(holding)" ] && break; sleep 0.1; done
    [ -n "$(holding)" ]
    rm -rf "$SERVER"
    for _ in $(seq 50); do [ -z "$(holding)" ] && break; sleep 0.1; done
    [ -z "$(holding)" ]
}

@test "backup is a consistent copy that show reads anywhere" {
    new_server
    emu put names.nsf 1 one --at 2013-11-15T10:00:00Z
    cd "$BATS_TEST_TMPDIR"
    emu backup names.nsf copy.nsf
    emu put names.nsf 2 two --at 2013-11-15T11:00:00Z
    run emu show "$BATS_TEST_TMPDIR/copy.nsf"
    [[ "$output" == *$'\nnotes: 1\n1\t2013-11-15T10:00:00Z\tadmin\tone' ]]
    run -1 emu backup names.nsf /nonexistent/dir/copy.nsf
}

@test "a corrupt database is refused with a message, not a crash" {
    new_server
    head -c 60 "$SERVER/names.nsf" > "$SERVER/bad.nsf"
    run -1 emu show bad.nsf
    [[ "$output" == *"corrupt"* ]]
    run -1 emu put bad.nsf 1 x
}

@test "server stop brings every offline database back" {
    new_server
    emu server start
    printf 'running=1\noffline=%s\n' "$SERVER/names.nsf" > "$SERVER/.notesemu-server"
    run emu show names.nsf
    [[ "$output" == *$'\nstate: offline\n'* ]]
    emu server stop
    run emu show names.nsf
    [[ "$output" == *$'\nstate: online\n'* ]]
    run emu server status
    [ "$output" = "stopped" ]
}

@test "offline and online change one database as the running server would" {
    new_server
    run -1 emu offline names.nsf
    [ "$output" = "notesemu: offline $SERVER/names.nsf: Database is not in use by a running server (status 5113)" ]
    emu server start
    emu offline names.nsf
    [ "$(emu show names.nsf | sed -n 's/^state: //p')" = offline ]
    run -1 emu offline names.nsf
    [[ "$output" == *"Database is already offline"* ]]
    emu online names.nsf
    [ "$(emu show names.nsf | sed -n 's/^state: //p')" = online ]
    run -1 emu online names.nsf
    run emu online
    [ "$output" = "notesemu: online needs DB" ]
}

@test "rollover closes the current extent and reuse removes only archived ones" {
    new_server
    emu put names.nsf 1 x
    emu rollover
    run emu logs
    [ "$output" = $'S0000001.TXN\t1\tfull\nS0000002.TXN\t0\tcurrent' ]
    run -0 emu reuse
    [ -z "$output" ]
    [ -f "$SERVER/logdir/S0000001.TXN" ]
}

@test "a restore to a cut-off reproduces the notes at that time (emulator and tool alone)" {
    new_server
    emu create mail/a.nsf
    for h in 10 11 12; do emu put mail/a.nsf $h "at $h" --at 2013-11-15T$h:00:00Z; done
    emu backup mail/a.nsf "$BATS_TEST_TMPDIR/bk.nsf"
    emu put mail/a.nsf 13 "at 13" --at 2013-11-15T13:00:00Z
    emu delete mail/a.nsf 10 --at 2013-11-15T14:00:00Z
    emu put mail/a.nsf 15 "at 15" --at 2013-11-15T15:00:00Z
    run emu logs
    [ "${#lines[@]}" -eq 2 ]
    # The state the recovery must reach: the live database as of 14:30.
    expected=$'11\t2013-11-15T11:00:00Z\tadmin\tat 11\n12\t2013-11-15T12:00:00Z\tadmin\tat 12\n13\t2013-11-15T13:00:00Z\tadmin\tat 13'
    emu show mail/a.nsf | grep -q $'^15\t'
    if [ -x "$NSFMEND" ]; then
        run -0 "$NSFMEND" OPT=RECOVER IN="$BATS_TEST_TMPDIR/bk.nsf" OUT="$SERVER/mail/a.nsf" DATETIME="11/15/2013 14:30"
        [[ "$output" == *"Recover $BATS_TEST_TMPDIR/bk.nsf transactions till transaction in 11/15/2013 14:00:00"* ]]
        run bash -c "'$NOTESEMU' show '$BATS_TEST_TMPDIR/bk.nsf' | grep \$'\\t'"
        [ "$output" = "$expected" ]
    fi
}

@test "pad grows a database with holes and keeps what show lists; bad sizes are refused" {
    new_server
    emu create big.nsf
    emu put big.nsf 1 $'tab\there' --at 2013-11-15T10:00:00Z
    local before
    before=$(notes_of big.nsf)
    emu pad big.nsf 3G
    [ "$(stat -c %s "$SERVER/big.nsf")" -ge $((3 << 30)) ]
    [ "$(stat -c %b "$SERVER/big.nsf")" -lt 65536 ]  # under 32 MiB on disk
    [ "$(notes_of big.nsf)" == "$before" ]
    # Still a database the server writes to, padding and all.
    emu put big.nsf 2 "after" --at 2013-11-15T11:00:00Z
    [ "$(emu show big.nsf | sed -n "s/^notes: //p")" == 2 ]
    # A negative size comes after -- (a word with a dash is an option).
    for size in "" 5X G 99999999999999999999G -1; do
        run -1 emu pad big.nsf -- "$size"
        [ "$output" = "notesemu: pad needs DB SIZE (bytes, or with K, M or G)" ]
    done
}

@test "--help and --version answer on stdout with status 0, wherever they stand" {
    run -0 emu --help
    [ "${lines[0]}" = "usage: notesemu [--ini PATH] COMMAND [ARGS]" ]
    [ "${lines[1]}" = "       notesemu --help | --version" ]
    local help=$output
    run -0 emu show names.nsf --help
    [ "$output" = "$help" ]
    run -0 emu help
    [ "$output" = "$help" ]
    local version
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD_DIR/CMakeCache.txt")
    run -0 emu --version
    [ "$output" = "notesemu (nsfmend) $version" ]
    # Without a command the usage goes to stderr and the status is 1.
    run -1 --separate-stderr emu
    [ -z "$output" ]
    [ "${stderr_lines[0]}" = "usage: notesemu [--ini PATH] COMMAND [ARGS]" ]
}

@test "a misused option is getopt's one standard line naming notesemu, status 1" {
    new_server
    run -1 --separate-stderr "$NOTESEMU" logs --frobnicate
    [ -z "$output" ]
    [ "$stderr" = "notesemu: unrecognized option '--frobnicate'" ]
    run -1 --separate-stderr emu logs --ini
    [ "$stderr" = "notesemu: option '--ini' requires an argument" ]
    run -1 --separate-stderr emu create a.nsf --unlogged=yes
    [ "$stderr" = "notesemu: option '--unlogged' doesn't allow an argument" ]
    run -1 --separate-stderr emu put names.nsf 1 -x
    [ "$stderr" = "notesemu: invalid option -- 'x'" ]
    run -1 --separate-stderr emu put names.nsf 1 x --u me
    [ "$stderr" = "notesemu: option '--u' is ambiguous; possibilities: '--user' '--unlogged'" ]
    [ "$(emu logs)" = $'S0000001.TXN\t0\tcurrent' ]
}

@test "options take =VALUE or the next word, may be shortened, and -- ends them" {
    new_server
    emu put names.nsf 1 --us=Ann "first" --at 2013-11-15T10:00:00Z
    emu put --at=2013-11-15T11:00:00Z names.nsf 2 -- -dash
    emu put names.nsf 3 --at 2013-11-15T12:00:00Z -- --user
    run notes_of names.nsf
    [[ "$output" == *$'\nnotes: 3\n1\t2013-11-15T10:00:00Z\tAnn\tfirst\n2\t2013-11-15T11:00:00Z\tadmin\t-dash\n3\t2013-11-15T12:00:00Z\tadmin\t--user' ]]
    run -1 emu put names.nsf 4 four -- --at 2013-11-15T13:00:00Z
}

@test "what a killed write of the server left goes with the next operation on that file" {
    new_server
    emu create mail.nsf >/dev/null
    emu put mail.nsf 1 "one"
    emu backup mail.nsf "$BATS_TEST_TMPDIR/backup.nsf" >/dev/null
    emu put mail.nsf 2 "two"
    # A recovery of the backup killed while it wrote its new copy, and a
    # write of the log control file killed the same way.
    head -c 4096 /dev/zero >"$BATS_TEST_TMPDIR/backup.nsf.tmp-k1LLed"
    printf torn >"$SERVER/logdir/nlogctrl.lfh.tmp-Ab3dEf"
    run -0 "$NSFMEND" OPT=RECOVER IN="$BATS_TEST_TMPDIR/backup.nsf" OUT="$SERVER/mail.nsf"
    [ ! -e "$BATS_TEST_TMPDIR/backup.nsf.tmp-k1LLed" ]
    [ ! -e "$SERVER/logdir/nlogctrl.lfh.tmp-Ab3dEf" ]
    # A failing recovery clears its file's leftovers too; a write of the
    # control file clears its own.
    head -c 4096 /dev/zero >"$BATS_TEST_TMPDIR/backup.nsf.tmp-k1LLed"
    run -1 "$NSFMEND" OPT=RECOVER IN="$BATS_TEST_TMPDIR/backup.nsf" OUT="$SERVER/mail.nsf" DATETIME="01/01/2000 00:00"
    [ ! -e "$BATS_TEST_TMPDIR/backup.nsf.tmp-k1LLed" ]
    printf torn >"$SERVER/logdir/nlogctrl.lfh.tmp-Ab3dEf"
    emu put mail.nsf 3 "three"
    [ "$(ls -A "$SERVER/logdir" | grep -c tmp-)" -eq 0 ]
}
