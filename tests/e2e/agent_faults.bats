#!/usr/bin/env bats
# Archiving when a platform call fails: which text the agent is left with,
# what was archived before the failure, and that an archiving bracket once
# opened is always closed (the server refuses a second begin while one is
# open, so a second run in the same process shows it).

load helpers
load agent_helpers

ACCESS="Unable to access the file"   # the emulator's text for status 263
BUSY="Log archiving is already in progress"

setup() {
    new_server
    write_changes mail.nsf 9   # extents 1 and 2 full, 3 current
    BACKUP="$BATS_TEST_TMPDIR/backup"
}

states() { extent_states | tr '\n' ' '; }

@test "a failing style query or begin leaves the API text and touches nothing" {
    NOTESEMU_FAIL="NSFGetTransLogStyle=263" agent_says "$ACCESS" spool "$BACKUP" ""
    [ "$(field stamp)" = untouched ]
    [ -z "$(ls "$BACKUP")" ]

    NOTESEMU_FAIL="NSFBeginArchivingLogs#1=263" run agent --repeat 2 archive "" "$BACKUP/"
    [ "$(printf '%s\n' "$output" | sed -n 2p)" = "msg=$ACCESS" ]
    [ "$(printf '%s\n' "$output" | sed -n 3p)" = "stamp=untouched" ]
    # The second run in the same process begins normally and archives.
    [ "$(printf '%s\n' "$output" | sed -n 5,6p | tr '\n' ' ')" = "result=0 msg=QMR_NSF_SUCCESS " ]
    [ "$(states)" = "S0000001.TXN archived S0000002.TXN archived S0000003.TXN current " ]
}

@test "a failing first query: its text, the capture still runs, the bracket is closed" {
    NOTESEMU_FAIL="NSFGetFirstLogToArchive#1=263" run agent --repeat 2 spool "$BACKUP" ""
    [ "$(printf '%s\n' "$output" | sed -n 1p)" = "msg=$ACCESS" ]
    [ "$(archived_files "$BACKUP" | tr '\n' ' ')" = "S0000001.TXN S0000002.TXN S0000003.TXN " ]
    # Run two got past begin; the capture's copies of extents 1 and 2 are
    # identical, so they count as archived without a second copy.
    [ "$(printf '%s\n' "$output" | sed -n 4p)" = "msg=QMR_NSF_SUCCESS" ]
    [ "$(states)" = "S0000001.TXN archived S0000002.TXN archived S0000003.TXN current " ]
}

@test "a failing next query keeps what was archived before it" {
    NOTESEMU_FAIL="NSFGetNextLogToArchive=263" agent_says "$ACCESS" spool "$BACKUP" ""
    [ "$(states)" = "S0000001.TXN archived S0000002.TXN full S0000003.TXN current " ]
}

@test "a failing done report: the copy stays, the extent stays unarchived until the next run" {
    NOTESEMU_FAIL="NSFDoneArchivingLog#2=263" agent_says "$ACCESS" spool "$BACKUP" ""
    [ "$(states)" = "S0000001.TXN archived S0000002.TXN full S0000003.TXN current " ]
    cmp "$SERVER/logdir/S0000002.TXN" "$BACKUP/S0000002.TXN"

    NOTESEMU_FAIL="NSFDoneArchivingLog#2=263" run agent --repeat 2 spool "$BACKUP" ""
    # In one process: the bracket of the failed run was closed, so the
    # second begins, and the copy it finds is the extent's.
    [[ "$(printf '%s\n' "$output" | sed -n 4p)" != *"$BUSY"* ]]
    [ "$(printf '%s\n' "$output" | sed -n 4p)" = "msg=QMR_NSF_SUCCESS" ]
    [ "$(states)" = "S0000001.TXN archived S0000002.TXN archived S0000003.TXN current " ]
}

@test "a failing end counts only when nothing failed before it" {
    NOTESEMU_FAIL="NSFEndArchivingLogs=263" agent_answers 1 "$ACCESS" archive "" "$BACKUP/"
    [ "$(states)" = "S0000001.TXN archived S0000002.TXN archived S0000003.TXN current " ]

    NOTESEMU_FAIL="NSFGetFirstLogToArchive=263,NSFEndArchivingLogs=4660" \
        agent_says "$ACCESS" spool "$BATS_TEST_TMPDIR/other" ""
}

@test "when loop and capture both fail the loop's text stays; alone, the capture's shows; the bracket is closed" {
    # A file of the log folder whose archived name holds something else.
    printf 'zz' > "$SERVER/logdir/zz"
    mkdir -p "$BACKUP"
    printf 'another' > "$BACKUP/zz"
    NOTESEMU_FAIL="NSFDoneArchivingLog#1=263" run agent --repeat 2 archive "" "$BACKUP/"
    capture_text="msg=Error copying file $SERVER/logdir/zz to $BACKUP/zz. File exists"
    [ "$(printf '%s\n' "$output" | sed -n 1,2p | tr '\n' ' ')" = "result=1 msg=Unable to access the file " ]
    # Run two: begin works again; the loop takes run one's copies as made.
    [ "$(printf '%s\n' "$output" | sed -n 5,6p | tr '\n' ' ')" = "result=1 $capture_text " ]
    [ "$(states)" = "S0000001.TXN archived S0000002.TXN archived S0000003.TXN current " ]
    [ "$(cat "$BACKUP/zz")" = another ]
}

@test "without TRANSLOG_Path the run fails after the loop's work, and the bracket is closed" {
    NOTESEMU_FAIL="OSGetEnvironmentString=1" run agent --repeat 2 spool "$BACKUP" ""
    [ "$(printf '%s\n' "$output" | sed -n 1p)" = "msg=Fail to get transaction log directory" ]
    [ "$(printf '%s\n' "$output" | sed -n 4p)" = "msg=Fail to get transaction log directory" ]
    [ "$(states)" = "S0000001.TXN archived S0000002.TXN archived S0000003.TXN current " ]
    # Nothing was captured from an undefined folder.
    [ "$(archived_files "$BACKUP" | tr '\n' ' ')" = "S0000001.TXN S0000002.TXN " ]
}
