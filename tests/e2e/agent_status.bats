#!/usr/bin/env bats
# The status-string operations through the outside C client: the logging
# style, restoring a backup over a live database, recovering a backup file.

load helpers
load recovery_helpers
load agent_helpers

# mail.nsf's story with the server running (the style query makes its own).
setup() {
    mail_story
    emu server start >/dev/null
}

@test "the style query names each style, and no logging" {
    emu server stop >/dev/null
    for pair in 0:CIRCULAR 1:ARCHIVE 2:UNKNOWN 3:UNKNOWN; do
        rm -rf "$BATS_TEST_TMPDIR/notesdata"
        new_server --style "${pair%%:*}"
        agent_says "QMR_NSF_TRANSLOG_STYLE_${pair#*:}" style
    done
    rm -rf "$SERVER"
    new_server --logging off
    agent_says QMR_NSF_TRANSLOG_STYLE_NOT_LOGGED style
    NOTESEMU_FAIL="NSFGetTransLogStyle=263" agent_says "Unable to access the file" style
}

@test "restore puts the backup in place of the live database and brings it online, under a name not ASCII too" {
    local name
    for name in mail.nsf "maïl ✓.nsf"; do
        [ "$name" = mail.nsf ] || mv "$LIVE" "$SERVER/$name"
        agent_ok restore "$BACKUP" "$SERVER/$name"
        cmp "$BACKUP" "$SERVER/$name"
        [ "$(db_field "$name" state)" = online ]
        [ "$(db_notes "$name")" = "$AT_BACKUP" ]
    done
}

@test "restore of a relative database path replaces the database the server takes offline" {
    # The working directory holds a file of that name: it is not the
    # server's database and stays as it was.
    local elsewhere="$BATS_TEST_TMPDIR/elsewhere"
    mkdir -p "$elsewhere"
    cp "$LIVE" "$elsewhere/mail.nsf"
    cp "$LIVE" "$BATS_TEST_TMPDIR/stranger-before"
    cd "$elsewhere"
    agent_ok restore "$BACKUP" mail.nsf
    cmp "$BACKUP" "$LIVE"
    [ "$(db_field mail.nsf state)" = online ]
    cmp "$elsewhere/mail.nsf" "$BATS_TEST_TMPDIR/stranger-before"
    [ "$(ls -A "$elsewhere")" = mail.nsf ]
    [ -z "$(ls -A "$SERVER" | grep nsfmend-offline)" ]
}

@test "restore stops at 5113, unlike the command line, and copies nothing" {
    emu server stop >/dev/null || true
    cp "$LIVE" "$BATS_TEST_TMPDIR/live-before"
    agent_says "Database is not in use by a running server" restore "$BACKUP" "$LIVE"
    cmp "$LIVE" "$BATS_TEST_TMPDIR/live-before"
}

@test "a failing copy leaves the system text and the database online as it was" {
    serve_and_keep
    agent_says "No such file or directory" restore "$BATS_TEST_TMPDIR/no-such-backup.nsf" "$LIVE"
    cmp "$LIVE" "$BATS_TEST_TMPDIR/live-before"
    [ "$(db_field mail.nsf state)" = online ]
    [ -z "$(leftovers "$SERVER")" ]
}

@test "a link or special file in place of the live database is refused, nothing followed" {
    echo "root's own file" > "$BATS_TEST_TMPDIR/target"
    ln -s "$BATS_TEST_TMPDIR/target" "$SERVER/link.nsf"
    mkfifo "$SERVER/fifo.nsf"
    for db in link fifo; do
        agent_says "Not a regular file (a symbolic link or special file is never replaced): $SERVER/$db.nsf" restore "$BACKUP" "$SERVER/$db.nsf"
    done
    [ "$(cat "$BATS_TEST_TMPDIR/target")" = "root's own file" ]
    [ -L "$SERVER/link.nsf" ]
    [ -p "$SERVER/fifo.nsf" ]
}

@test "a failing online step leaves its text and the offline mark for the next restore" {
    NOTESEMU_FAIL="NSFBringDatabaseOnline=263" agent_says "Unable to access the file" restore "$BACKUP" "$LIVE"
    cmp "$BACKUP" "$LIVE"
    # Still offline, and the mark says which restore left it so.
    [ "$(db_field mail.nsf state)" = offline ]
    [ "$(leftovers "$SERVER")" = .mail.nsf.nsfmend-offline ]
    # A restore that cannot take it over (the server will not bring it
    # online) leaves the mark it found: it was not this run's to remove.
    NOTESEMU_FAIL="NSFBringDatabaseOnline=263" agent_says "Database is already offline" restore "$BACKUP" "$LIVE"
    [ "$(leftovers "$SERVER")" = .mail.nsf.nsfmend-offline ]
    agent_ok restore "$BACKUP" "$LIVE"
    [ "$(db_field mail.nsf state)" = online ]
    [ -z "$(leftovers "$SERVER")" ]
}

@test "restore keeps the live database's owner, group and mode, not the backup's" {
    [ "$(id -u)" -eq 0 ] || skip "only root can give the files the owners this needs"
    chown 65534:65534 "$BACKUP"
    chmod 0666 "$BACKUP"
    chown 4321:4322 "$LIVE"
    chmod 0600 "$LIVE"
    agent_ok restore "$BACKUP" "$LIVE"
    cmp "$BACKUP" "$LIVE"
    [ "$(stat -c '%a %u %g' "$LIVE")" = "600 4321 4322" ]
    [ "$(stat -c %Y "$LIVE")" = "$(stat -c %Y "$BACKUP")" ]
}

# This user may keep a file's owner only when it is that owner and in its
# group: a file of this user in another group, or of another user in this
# user's group, is refused as one of another user and group is.
@test "an unprivileged agent is refused a database whose owner it could not keep, before it goes offline" {
    hand_over_to_nobody "$BATS_FILE_TMPDIR"
    serve_and_keep
    chmod 0666 "$LIVE"
    local owner
    for owner in 0:0 65534:0 0:65534; do
        chown "$owner" "$LIVE"
        run "${AS_NOBODY[@]}" env LD_LIBRARY_PATH="$AGENT_LIBDIR:$LIBNOTES_DIR" "$AGENT_CLIENT" restore "$BACKUP" "$LIVE"
        [ "$(field msg)" = "The owner of the live database (user ${owner%:*}, group ${owner#*:}) cannot be kept by user 65534; a database is never handed to another user: $LIVE" ]
        cmp "$LIVE" "$BATS_TEST_TMPDIR/live-before"
        [ "$(stat -c '%a %u:%g' "$LIVE")" = "666 $owner" ]
        [ "$(db_field mail.nsf state)" = online ]
        [ -z "$(leftovers "$SERVER")" ]
    done
}

@test "recover with an empty or absent date rolls forward to the latest transaction" {
    cp "$BACKUP" "$BATS_TEST_TMPDIR/second.nsf"
    agent_ok recover "$BACKUP" "" 0 0 0
    [ "$(db_notes "$BACKUP")" = "$LATEST" ]
    [[ "$output" == " Recover $BACKUP till latest transaction"* ]]
    agent_ok recover "$BATS_TEST_TMPDIR/second.nsf" - 0 0 0
    [ "$(db_notes "$BATS_TEST_TMPDIR/second.nsf")" = "$LATEST" ]
}

@test "recover to a cut-off time, with every request, never reports notes" {
    agent_ok recover "$BACKUP" "11/15/2013 14:00" 1 1 1
    [ "$(db_notes "$BACKUP")" = "$AT_1400" ]
    refute_output_has "[nsfmend.NoteCallback]"
}

@test "recover with a date that cannot be read leaves its text and recovers nothing" {
    cp "$BACKUP" "$BATS_TEST_TMPDIR/before.nsf"
    agent_says "Unable to interpret time or date" recover "$BACKUP" "the fifteenth" 0 0 0
    cmp "$BACKUP" "$BATS_TEST_TMPDIR/before.nsf"
    [ "$output" = "msg=Unable to interpret time or date" ]
}
