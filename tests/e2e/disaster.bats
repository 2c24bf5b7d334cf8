#!/usr/bin/env bats
# The whole disaster story: a server with several databases and changes over
# several extents, a full backup of the data directory, more work, the data
# directory lost, the backup and the log extents put back, and nsfmend run
# with Y: every logged database is back to its state before the loss.

load helpers
load recovery_helpers

DBS=(mail/ann.nsf mail/bob.nsf apps/catalog.nsf names.nsf)

snapshot() { # DIR: the notes of every database into DIR/<name>.notes
    local db
    mkdir -p "$1"
    for db in "${DBS[@]}" local.box; do db_notes "$db" > "$1/${db//\//_}.notes"; done
}

# The server's life up to the loss: databases, a nightly backup of the data
# directory, a day's work over several extents, the disk lost, and the backup
# and the archived extents put back. Extra arguments run after the day's
# work, before the extents are archived (a last rollover, say). Sets LOGDIR
# and NIGHTLY; the notes of each database are in at-backup/ and before-loss/.
disaster_story() {
    new_server
    mkdir -p "$SERVER/mail" "$SERVER/apps"
    emu create mail/ann.nsf >/dev/null
    emu create mail/bob.nsf >/dev/null
    emu create apps/catalog.nsf >/dev/null
    emu create local.box --unlogged >/dev/null
    local i db
    for i in 1 2 3; do
        emu put mail/ann.nsf $i "ann note $i" --user "Ann Admin"
        emu put mail/bob.nsf $((i * 10)) "bob note $i" --user "Bob Baker"
    done
    emu put apps/catalog.nsf 1 "catalog" --user "Cat Keeper"
    emu put local.box 1 "kept locally" --user "Ann Admin"
    emu rollover >/dev/null

    # The nightly backup of the whole data directory.
    NIGHTLY="$BATS_TEST_TMPDIR/nightly"
    cp -a "$SERVER" "$NIGHTLY"
    snapshot "$BATS_TEST_TMPDIR/at-backup"

    # A day's work over several extents, on every kind of database.
    emu put mail/ann.nsf 2 "ann note 2, edited" --user "Ann Admin"
    emu delete mail/bob.nsf 20 --user "Bob Baker"
    emu rollover >/dev/null
    emu put mail/bob.nsf 40 "bob note 4" --user "Bob Baker"
    emu abort mail/ann.nsf 9 "rolled back"
    emu put apps/catalog.nsf 2 "catalog, more" --user "Cat Keeper"
    emu rollover >/dev/null
    emu put mail/ann.nsf 4 "ann note 4" --user "Ann Admin"
    emu put names.nsf 7 "Dee Delta" --user "Admin"
    emu put local.box 2 "lost with the disk" --user "Ann Admin"
    "$@"
    snapshot "$BATS_TEST_TMPDIR/before-loss"
    # Every database changed after the backup, so each one has something to replay.
    for db in "${DBS[@]}" local.box; do
        ! cmp -s "$BATS_TEST_TMPDIR/at-backup/${db//\//_}.notes" "$BATS_TEST_TMPDIR/before-loss/${db//\//_}.notes"
    done
    LOGDIR=$(sed -n 's/^TRANSLOG_Path=//Ip' "$SERVER/notes.ini" | head -1)
    [[ $LOGDIR == /* ]] || LOGDIR="$SERVER/$LOGDIR"
    cp -a "$LOGDIR" "$BATS_TEST_TMPDIR/archived-logs"

    # The disk is lost; the data directory and then the archived extents come back.
    rm -rf "$SERVER"
    cp -a "$NIGHTLY" "$SERVER"
    cp "$BATS_TEST_TMPDIR"/archived-logs/*.TXN "$LOGDIR/"
    snapshot "$BATS_TEST_TMPDIR/restored"
    diff -r "$BATS_TEST_TMPDIR/at-backup" "$BATS_TEST_TMPDIR/restored"
}

@test "after a disaster restore every logged database is rolled forward to its last change" {
    disaster_story
    local db

    run nsfmend <<<"Y"
    [ "$status" -eq 0 ]
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

# The control file is gone after the reset, so the extents alone must show
# that the newest full one did not come back: the log stops at extent 4 and
# an empty extent 6 follows.
@test "an archived extent that did not come back fails every recovery that needs it; files stay as backed up" {
    disaster_story emu rollover
    [ -f "$LOGDIR/S0000006.TXN" ]
    rm "$LOGDIR/S0000005.TXN"
    local db
    run nsfmend <<<"Y"
    assert_output_has "Delete log control file "
    for db in "${DBS[@]}"; do
        assert_output_has " Fail to recover database $SERVER/$db, Reason=A transaction log extent needed for recovery is missing"
        refute_output_has " Recover $SERVER/$db till latest transaction"
        cmp "$NIGHTLY/$db" "$SERVER/$db"
    done
    assert_output_has " Skip recover database $SERVER/local.box because it is not a logged database"
}
