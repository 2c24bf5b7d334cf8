#!/usr/bin/env bats
# OPT=FETCH: an archive, a folder or an object store, brought back into the
# server's log directory for a media recovery: every extent the recovery
# needs, each from a copy its record vouches for and checked before it is
# placed, never over another file, never while the server runs; OPT=CHECK
# shows the plan first.

load helpers
load recovery_helpers
load agent_helpers
load store_helpers

setup_file() {
    agent_build_client
    start_swift_store
}
teardown_file() { stop_swift_store; }

archive_to() { agent_ok spool "$1" "${2:-}"; }

# The log directory lost with the machine: it comes back empty.
lose_log_directory() {
    rm -rf "$LOGDIR"
    mkdir "$LOGDIR"
}

# The disaster story, the extents archived to $1 by the agent as the day
# went (the last run just before the loss); then the machine with its log
# directory is lost, the data directory comes back from the nightly backup,
# and the archive is fetched back.
disaster_from() {
    local location=$1 db
    disaster_story archive_to "$location"
    lose_log_directory
    local before
    before=$(tree_state "$SERVER")
    run -0 nsfmend OPT=CHECK IN="$location"
    assert_output_has $'\nok   fetch: S0000001.TXN from '"${location%/}/S0000001.TXN"
    assert_output_has $'\nVerdict: the fetch would proceed\n'
    [ "$(tree_state "$SERVER")" = "$before" ]

    run -0 nsfmend OPT=FETCH IN="$location"
    assert_output_has " Fetched S0000005.TXN from ${location%/}/S0000005.TXN ("
    assert_output_has "Fetched 5 extents ("
    [ -z "$(leftovers "$LOGDIR")" ]
    # The server's files: its log directory's owner, read by it alone.
    [ "$(stat -c '%a %u %g' "$LOGDIR"/S0000001.TXN)" = "600 $(stat -c '%u %g' "$LOGDIR")" ]
    # Each extent is its archived copy, and is recorded where the check of
    # the media recovery reads it.
    run -0 nsfmend OPT=CHECK
    assert_output_has $'\nok   archive records: 1 in '"$LOGDIR, 5 extents as recorded (size and SHA-256)"

    run -0 nsfmend <<<"Y"
    refute_output_has "Fail to"
    for db in "${DBS[@]}"; do
        diff -u "$BATS_TEST_TMPDIR/before-loss/${db//\//_}.notes" <(db_notes "$db")
    done
}

@test "the disaster story from an archive folder: check, fetch, media recovery, every database right" {
    disaster_from "$BATS_TEST_TMPDIR/archive/"
}

@test "the disaster story from an object store: check, fetch, media recovery, every database right" {
    require_swift_store
    new_bucket
    disaster_from "$STORE"
}

@test "a running server is never fetched into; stopped, it is" {
    disaster_story archive_to "$BATS_TEST_TMPDIR/archive/"
    lose_log_directory
    emu server start
    run -1 nsfmend OPT=FETCH IN="$BATS_TEST_TMPDIR/archive/"
    [[ "$output" == *$'\nThe server is running: process '[0-9]*" (notesemu) holds files in $LOGDIR; stop it, then fetch"$'\n'* ]]
    [ -z "$(ls -A "$LOGDIR")" ]
    run -1 nsfmend OPT=CHECK IN="$BATS_TEST_TMPDIR/archive/"
    assert_output_has $'\nFAIL server: The server is running: process '
    emu server stop
    run -0 nsfmend OPT=FETCH IN="$BATS_TEST_TMPDIR/archive/"
}

# What the log directory holds already under an extent's name: the same
# bytes are left, more bytes that start with the archived ones are kept
# (the server wrote on after the archiving), anything else stops the fetch
# before it changes anything.
@test "a file there already: the same is left, a longer one kept, another never replaced" {
    disaster_story archive_to "$BATS_TEST_TMPDIR/archive/"
    local archive="$BATS_TEST_TMPDIR/archive"
    lose_log_directory
    cp "$archive/S0000001.TXN" "$LOGDIR/"
    { cat "$archive/S0000005.TXN"; echo "written on"; } >"$LOGDIR/S0000005.TXN"
    echo "another log's" >"$LOGDIR/S0000002.TXN"
    # Longer than the archived copy, but not starting with it.
    { cat "$archive/S0000004.TXN"; echo "more"; } >"$LOGDIR/S0000004.TXN"
    flip_byte "$LOGDIR/S0000004.TXN" 10
    local inode before
    inode=$(stat -c %i "$LOGDIR/S0000001.TXN")
    before=$(tree_state "$LOGDIR")
    run -1 nsfmend OPT=FETCH IN="$archive"
    assert_output_has " Fail to fetch S0000002.TXN, Reason=$LOGDIR/S0000002.TXN is there with other content; it is never replaced"
    [ "$(tree_state "$LOGDIR")" = "$before" ]

    run -1 nsfmend OPT=CHECK IN="$archive"
    assert_output_has $'\nFAIL fetch: S0000002.TXN: '"$LOGDIR/S0000002.TXN is there with other content"
    assert_output_has $'\nFAIL fetch: S0000004.TXN: '"$LOGDIR/S0000004.TXN is there with other content"
    rm "$LOGDIR/S0000002.TXN" "$LOGDIR/S0000004.TXN"
    run nsfmend OPT=CHECK IN="$archive"
    assert_output_has $'\nnote fetch: S0000001.TXN: '"$LOGDIR/S0000001.TXN is there already, as recorded"
    assert_output_has $'\nnote fetch: S0000005.TXN: '"$LOGDIR/S0000005.TXN is there already and longer than its archived copy"
    run -0 nsfmend OPT=FETCH IN="$archive"
    assert_output_has "Fetched 3 extents ("
    assert_output_has "; 2 there already"
    [ "$(stat -c %i "$LOGDIR/S0000001.TXN")" = "$inode" ]
    [ "$(tail -c 11 "$LOGDIR/S0000005.TXN")" = "written on" ]
    cmp "$archive/S0000002.TXN" "$LOGDIR/S0000002.TXN"
    # Again: nothing to do, nothing changed, no second record.
    before=$(tree_state "$LOGDIR")
    run -0 nsfmend OPT=FETCH IN="$archive"
    [ "$(tree_state "$LOGDIR")" = "$before" ]
}

# Two archiving runs under two suffixes give every extent two copies. A
# copy that is not what its record says is never placed: the next one is
# tried; with none left the extent fails, and nothing of it is left.
@test "a copy that does not match its record is not placed: the next copy is, and without one the fetch fails" {
    disaster_story two_runs
    local archive="$BATS_TEST_TMPDIR/archive"
    lose_log_directory
    flip_byte "$archive/S0000003.TXN.a" 30
    run -0 nsfmend OPT=FETCH IN="$archive"
    assert_output_has " Copy $archive/S0000003.TXN.a of S0000003.TXN cannot serve, Reason=$archive/S0000003.TXN.a does not match archive record nsfmend-archive-"
    assert_output_has " Fetched S0000003.TXN from $archive/S0000003.TXN.b ("
    cmp "$archive/S0000003.TXN.b" "$LOGDIR/S0000003.TXN"

    lose_log_directory
    flip_byte "$archive/S0000003.TXN.b" 30
    run -1 nsfmend OPT=FETCH IN="$archive"
    assert_output_has " Fail to fetch S0000003.TXN, Reason=no copy holds what its record says"
    [ ! -e "$LOGDIR/S0000003.TXN" ]
    [ -z "$(leftovers "$LOGDIR")" ]
}

two_runs() {
    archive_to "$BATS_TEST_TMPDIR/archive/" ".a"
    archive_to "$BATS_TEST_TMPDIR/archive/" ".b"
}

# Records are named by the time their run wrote them: a cut-off between two
# runs takes the extents up to the first run after it, and extents archived
# later are not needed, nor looked at.
@test "a cut-off takes the extents up to the first archiving run after it, and no later one" {
    new_server
    local archive="$BATS_TEST_TMPDIR/archive/" cutoff
    emu create mail.nsf >/dev/null
    emu put mail.nsf 1 "one"
    emu rollover >/dev/null
    archive_to "$archive"
    sleep 1
    cutoff=$(date -u '+%m/%d/%Y %H:%M:%S')
    sleep 1
    emu put mail.nsf 2 "two"
    emu rollover >/dev/null
    archive_to "$archive"
    emu put mail.nsf 3 "three"
    emu rollover >/dev/null
    emu rollover >/dev/null
    archive_to "$archive"
    run extent_states
    [ "$(tail -n 1 <<<"$output")" = "S0000005.TXN current" ]
    LOGDIR=$SERVER/logdir
    lose_log_directory
    # An extent only the last run archived is lost from the archive.
    rm "$archive/S0000004.TXN"
    run -1 nsfmend OPT=CHECK IN="$archive" DATETIME="13/45/2013 14:00"
    assert_output_has $'\nFAIL cut-off time: "13/45/2013 14:00" cannot be read, Reason='
    run -0 nsfmend OPT=CHECK IN="$archive" DATETIME="$cutoff"
    assert_output_has $'\nok   cut-off time: "'"$cutoff"'": S0000001.TXN to S0000003.TXN, as far as nsfmend-archive-'
    run -0 nsfmend OPT=FETCH IN="$archive" DATETIME="$cutoff"
    [ "$(ls "$LOGDIR" | grep -c '^S')" -eq 3 ]
    # Without the cut-off every recorded extent is needed.
    run -1 nsfmend OPT=CHECK IN="$archive"
    assert_output_has $'\nFAIL fetch: S0000004.TXN: no copy is there as its record lists it ('"${archive}S0000004.TXN: missing, or of another size)"
}

@test "an archive without records is not fetched: nothing there could be checked" {
    new_server
    mkdir -p "$BATS_TEST_TMPDIR/plain"
    cp "$SERVER/logdir/S0000001.TXN" "$BATS_TEST_TMPDIR/plain/"
    run -1 nsfmend OPT=FETCH IN="$BATS_TEST_TMPDIR/plain"
    assert_output_has "FAIL archive: $BATS_TEST_TMPDIR/plain holds no archive record: nothing there can be checked before it is fetched"
}
