#!/usr/bin/env bats
# Folders and files named outside ASCII, through every mode: the recovery
# calls get the path in LMBCS, the calls the program hands paths to
# unchanged get the native bytes, and each call reaches the right file. The
# emulator's call log shows each path byte for byte as it was passed.

load helpers
load recovery_helpers
load agent_helpers

# "Büro 一" native (UTF-8) and in LMBCS (ü in code page 850, U+4E00 in the
# Unicode group with its zero low byte marked), as the call log writes them.
DIR_NATIVE='B\xC3\xBCro \xE4\xB8\x80'
DIR_LMBCS='B\x81ro \x14\xF6N'

setup() {
    SERVER="$BATS_TEST_TMPDIR/Büro 一"
    "$NOTESEMU" init "$SERVER" >/dev/null
    export NOTES_DATA_DIR="$SERVER"
    export NOTESEMU_CALL_LOG="$BATS_TEST_TMPDIR/calls"
    emu create "Mäil/ü.nsf" >/dev/null
    emu put "Mäil/ü.nsf" 1 "first" --at 2013-11-15T11:00:00Z
    BACKUP="$BATS_TEST_TMPDIR/Bäck 一/ü.nsf"
    mkdir -p "${BACKUP%/*}"
    emu backup "Mäil/ü.nsf" "$BACKUP"
    emu put "Mäil/ü.nsf" 2 "second" --at 2013-11-15T12:00:00Z
    emu put "Mäil/ü.nsf" 1 "first, edited" --at 2013-11-15T13:00:00Z
    LIVE="$SERVER/Mäil/ü.nsf"
    LATEST=$(db_notes "$LIVE")
    T="$BATS_TEST_TMPDIR"
}

# The call log's lines for one call, without their status (checked apart).
calls_of() { grep "^$1"$'\t' "$NOTESEMU_CALL_LOG" | sed 's/\tstatus=[0-9]*//'; }

@test "RECOVER hands the backup path over in LMBCS and recovers that file" {
    run -0 nsfmend OPT=RECOVER IN="$BACKUP" OUT="$LIVE"
    assert_output_has " Recover $BACKUP till latest transaction"
    [ "$(calls_of NSFRecoverDatabases)" == "NSFRecoverDatabases	path=$T/B\x84ck \x14\xF6N/\x81.nsf	flags=0	time=none" ]
    [ "$(db_notes "$BACKUP")" == "$LATEST" ]
}

@test "NOTE hands the path over in LMBCS and reports the native name" {
    run -0 nsfmend OPT=NOTE IN="$BACKUP" OUT="$LIVE"
    [ "$(calls_of NSFRecoverDatabasesWithCallback)" == "NSFRecoverDatabasesWithCallback	path=$T/B\x84ck \x14\xF6N/\x81.nsf	flags=0	time=none" ]
    assert_output_has $'\tNote information for backup file '"$BACKUP"$'\n'
    [ "$(db_notes "$BACKUP")" == "$LATEST" ]
}

@test "RESTORE: offline and online get the live path unchanged, the copy lands on it" {
    emu server start >/dev/null
    emu put "Mäil/ü.nsf" 9 "damage" --at 2013-11-15T14:00:00Z
    run -0 nsfmend OPT=RESTORE IN="$BACKUP" OUT="$LIVE" DATETIME="11/15/2013 13:30"
    refute_output_has "Fail to"
    [ "$(calls_of NSFRecoverDatabases)" == "NSFRecoverDatabases	path=$T/B\x84ck \x14\xF6N/\x81.nsf	flags=8	time=2013-11-15T13:30:00Z" ]
    [ "$(calls_of NSFTakeDatabaseOffline)" == "NSFTakeDatabaseOffline	path=$T/$DIR_NATIVE/M\xC3\xA4il/\xC3\xBC.nsf	file=$LIVE" ]
    [ "$(calls_of NSFBringDatabaseOnline)" == "NSFBringDatabaseOnline	path=$T/$DIR_NATIVE/M\xC3\xA4il/\xC3\xBC.nsf	file=$LIVE" ]
    [ "$(db_notes "$LIVE")" == "$LATEST" ]
    [ "$(db_field "$LIVE" state)" == online ]
    cmp "$BACKUP" "$LIVE"
}

@test "media recovery in a non-ASCII data directory opens each database natively and recovers it in LMBCS" {
    cp "$BACKUP" "$LIVE"
    run -0 nsfmend <<<"Y"
    assert_output_has " Recover $LIVE till latest transaction"
    calls_of NSFDbOpen | grep -qxF "NSFDbOpen	path=$T/$DIR_NATIVE/M\xC3\xA4il/\xC3\xBC.nsf	handle=1"
    calls_of NSFRecoverDatabases | grep -qxF "NSFRecoverDatabases	path=$T/$DIR_LMBCS/M\x84il/\x81.nsf	flags=0	time=none"
    [ "$(db_notes "$LIVE")" == "$LATEST" ]
}

@test "media recovery's reset deletes the log control file of a non-ASCII log folder" {
    run nsfmend <<<"Y"
    assert_output_has "Delete log control file $SERVER/logdir/nlogctrl.lfh"
    [ ! -e "$SERVER/logdir/nlogctrl.lfh" ]
}

# Fills three extents, spools them into DEST, and checks the copies and
# that the server counts the full ones archived.
spool_into() {
    local i dest=$1
    for i in 3 4 5 6 7; do emu put "Mäil/ü.nsf" "$i" "n$i"; done
    agent_ok spool "$dest" ""
    for i in 1 2 3; do cmp "$SERVER/logdir/S000000$i.TXN" "$dest/S000000$i.TXN"; done
    [ "$(extent_states | tr '\n' ' ')" = "S0000001.TXN archived S0000002.TXN archived S0000003.TXN current " ]
}

@test "archiving from a non-ASCII log folder" {
    spool_into "$T/archive/"
}

@test "archiving into a non-ASCII backup folder" {
    spool_into "$T/Archiv ä/"
}

@test "the agent's restore hands offline and online the LMBCS path and copies over the native one" {
    emu server start >/dev/null
    agent_ok restore "$BACKUP" "$LIVE"
    [ "$(calls_of NSFTakeDatabaseOffline)" == "NSFTakeDatabaseOffline	path=$T/$DIR_LMBCS/M\x84il/\x81.nsf	file=$LIVE" ]
    [ "$(calls_of NSFBringDatabaseOnline)" == "NSFBringDatabaseOnline	path=$T/$DIR_LMBCS/M\x84il/\x81.nsf	file=$LIVE" ]
    cmp "$BACKUP" "$LIVE"
    [ "$(db_field "$LIVE" state)" == online ]
    agent_ok recover "$BACKUP" "" 0 0 0
    [ "$(calls_of NSFRecoverDatabases)" == "NSFRecoverDatabases	path=$T/B\x84ck \x14\xF6N/\x81.nsf	flags=0	time=none" ]
    [ "$(db_notes "$BACKUP")" == "$LATEST" ]
}
