#!/usr/bin/env bats
# The whole disaster story: a server with several databases and changes over
# several extents, a full backup of the data directory, more work, the data
# directory lost, the backup and the log extents put back, and nsfmend run
# with Y: every logged database is back to its state before the loss.

load helpers
load recovery_helpers

@test "after a disaster restore every logged database is rolled forward to its last change" {
    disaster_story
    local db

    run -0 nsfmend <<<"Y"
    assert_output_has "Update $SERVER/notes.ini with TRANSLOG_Recreate_Logctrl=1"
    assert_output_has "Delete log control file "
    assert_output_has " Recover $SERVER/mail/ann.nsf till latest transaction"
    assert_output_has " Skip recover database $SERVER/local.box because it is not a logged database"
    refute_output_has "Fail to"

    snapshot "$BATS_TEST_TMPDIR/after"
    # Logged databases are as they were before the loss; the unlogged one as backed up.
    for db in "${DBS[@]}"; do
        diff -u "$BATS_TEST_TMPDIR/before-loss/${db//\//_}.notes" "$BATS_TEST_TMPDIR/after/${db//\//_}.notes"
    done
    diff -u "$BATS_TEST_TMPDIR/at-backup/local.box.notes" "$BATS_TEST_TMPDIR/after/local.box.notes"

    # The server carries on writing after the recovery.
    emu put mail/ann.nsf 5 "the day after" --user "Ann Admin"
    db_notes mail/ann.nsf | grep -q 'the day after'
}

# The newest full extent did not come back: the log stops at extent 4 and an
# empty extent 6 follows. The gap is seen before anything is reset, so the
# run stops with nothing changed, and the same run succeeds once the extent
# is back.
@test "an archived extent that did not come back stops the run before the reset; files stay as backed up" {
    disaster_story emu rollover
    [ -f "$LOGDIR/S0000006.TXN" ]
    mv "$LOGDIR/S0000005.TXN" "$BATS_TEST_TMPDIR/S0000005.TXN"
    local db before
    before=$(tree_state "$SERVER")
    run -1 nsfmend <<<"Y"
    assert_output_has $'\nFAIL extents: S0000001.TXN to S0000006.TXN, 5 extents, missing S0000005.TXN\n'
    refute_output_has "Update $SERVER/notes.ini"
    refute_output_has "Delete log control file "
    refute_output_has "Running media recovery"
    # Nothing but the run lock's file, which every run leaves.
    rm "$SERVER/.nsfmend.lock"
    [ "$(tree_state "$SERVER")" = "$before" ]

    mv "$BATS_TEST_TMPDIR/S0000005.TXN" "$LOGDIR/S0000005.TXN"
    run -0 nsfmend <<<"Y"
    for db in "${DBS[@]}"; do
        assert_output_has " Recover $SERVER/$db till latest transaction"
        diff -u "$BATS_TEST_TMPDIR/before-loss/${db//\//_}.notes" <(db_notes "$db")
    done
    assert_output_has " Skip recover database $SERVER/local.box because it is not a logged database"
}
