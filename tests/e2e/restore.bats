#!/usr/bin/env bats
# OPT=RESTORE: recover the backup, take the live database offline, copy the
# recovered file over it, bring it online; every failure line of that order.

load helpers
load recovery_helpers

setup() { mail_story; }

@test "restore with the server running: offline, copy, online, and the state at the cut-off" {
    emu server start >/dev/null
    emu put mail.nsf 9 "damage" --user "Bad Actor" --at 2013-11-15T18:00:00Z
    run nsfmend OPT=RESTORE IN="$BACKUP" OUT="$LIVE" DATETIME="11/15/2013 14:00"
    [ "$status" -eq 0 ]
    assert_output_has $'\n\n Recovering backup file '"$BACKUP"$'...\n Recover '"$BACKUP"' transactions till transaction in '
    assert_output_has $' Taking database '"$LIVE"$' offline ...\n Restoring database '"$LIVE"$' \n  from recovered backup file '"$BACKUP"$' ...\n Bringing database '"$LIVE"$' online ...\n'
    refute_output_has "Fail to"
    [ "$(db_notes "$LIVE")" == "$AT_1400" ]
    [ "$(db_field "$LIVE" state)" == online ]
    cmp "$BACKUP" "$LIVE"
}

@test "restore with the server stopped goes on after 5113 and brings nothing online" {
    emu server stop >/dev/null || true
    run nsfmend OPT=RESTORE IN="$BACKUP" OUT="$LIVE"
    [ "$status" -eq 0 ]
    # The whole sequence: no bringing-online line between the copy and the stop.
    assert_output_has $'\n\n Recovering backup file '"$BACKUP"$'...\n Recover '"$BACKUP"$' till latest transaction\n Taking database '"$LIVE"$' offline ...\n Fail to take database '"$LIVE"$' offline, Reason=Database is not in use by a running server\n Restoring database '"$LIVE"$' \n  from recovered backup file '"$BACKUP"$' ...\n\n\nTerminate...'
    [ "$(db_notes "$LIVE")" == "$LATEST" ]
    cmp "$BACKUP" "$LIVE"
}

@test "the restored copy keeps the backup's times and mode" {
    chmod 0640 "$BACKUP"
    emu server start >/dev/null
    run nsfmend OPT=RESTORE IN="$BACKUP" OUT="$LIVE"
    [ "$status" -eq 0 ]
    [ "$(stat -c '%a %Y %u %g' "$LIVE")" == "$(stat -c '%a %Y %u %g' "$BACKUP")" ]
}

@test "a failed recovery stops the restore before the live database is touched" {
    emu server start >/dev/null
    cp "$LIVE" "$BATS_TEST_TMPDIR/live-before"
    NOTESEMU_FAIL="NSFRecoverDatabases=272" run nsfmend OPT=RESTORE IN="$BACKUP" OUT="$LIVE"
    [ "$status" -eq 1 ]
    assert_output_has " Fail to recover database $BACKUP, Reason="
    refute_output_has "Taking database"
    cmp "$LIVE" "$BATS_TEST_TMPDIR/live-before"
    [ "$(db_field "$LIVE" state)" == online ]
}

@test "taking the database offline fails for another reason: nothing is copied" {
    emu server start >/dev/null
    cp "$LIVE" "$BATS_TEST_TMPDIR/live-before"
    NOTESEMU_FAIL="NSFTakeDatabaseOffline=4001" run nsfmend OPT=RESTORE IN="$BACKUP" OUT="$LIVE"
    [ "$status" -eq 1 ]
    assert_output_has " Fail to take database $LIVE offline, Reason=error_code=4001"
    refute_output_has "Restoring database"
    cmp "$LIVE" "$BATS_TEST_TMPDIR/live-before"
}

@test "a copy that fails leaves the database offline and does not bring it online" {
    emu server start >/dev/null
    # The destination is a folder: the copy cannot open it for writing.
    mkdir "$SERVER/folder.nsf"
    NOTESEMU_FAIL="NSFTakeDatabaseOffline=5113" run nsfmend OPT=RESTORE IN="$BACKUP" OUT="$SERVER/folder.nsf"
    [ "$status" -eq 1 ]
    assert_output_has " Fail to restore database $SERVER/folder.nsf, Reason=Is a directory"
    refute_output_has "Bringing database"
}

@test "bringing the database online fails: the failure line and exit status 1" {
    emu server start >/dev/null
    NOTESEMU_FAIL="NSFBringDatabaseOnline=4002" run nsfmend OPT=RESTORE IN="$BACKUP" OUT="$LIVE"
    [ "$status" -eq 1 ]
    assert_output_has " Bringing database $LIVE online ...
 Fail to bring database $LIVE online, Reason=error_code=4002"
    [ "$(db_notes "$LIVE")" == "$LATEST" ]
}

@test "RECOVER and NOTE with OUT= never touch the live database" {
    emu server start >/dev/null
    cp "$LIVE" "$BATS_TEST_TMPDIR/live-before"
    for op in RECOVER NOTE; do
        cp "$BATS_TEST_TMPDIR/backup/mail.nsf" "$BATS_TEST_TMPDIR/b-$op.nsf"
        run nsfmend OPT=$op IN="$BATS_TEST_TMPDIR/b-$op.nsf" OUT="$LIVE"
        [ "$status" -eq 0 ]
        refute_output_has "Taking database"
        cmp "$LIVE" "$BATS_TEST_TMPDIR/live-before"
    done
}

@test "a database of over 4 GiB is recovered and restored in either build" {
    emu create big.nsf >/dev/null
    emu put big.nsf 1 "before the backup" --at 2013-11-15T10:00:00Z
    emu pad big.nsf 5G
    local backup="$BATS_TEST_TMPDIR/backup/big.nsf" live="$SERVER/big.nsf"
    emu backup big.nsf "$backup"
    emu put big.nsf 1 "after the backup" --at 2013-11-15T17:00:00Z
    local latest
    latest=$(db_notes big.nsf)
    emu server start >/dev/null
    run nsfmend OPT=RESTORE IN="$backup" OUT="$live"
    [ "$status" -eq 0 ]
    refute_output_has "Fail to"
    [ "$(db_notes "$live")" == "$latest" ]
    [ "$(db_field "$live" state)" == online ]
    [ "$(stat -c %s "$live")" -ge $((5 << 30)) ]
    [ "$(stat -c %s "$live")" == "$(stat -c %s "$backup")" ]
}
