#!/usr/bin/env bats
# The agent's check of an archive folder, on archives the agent library
# itself made: an unbroken chain under several suffixes, a lost copy, a
# copy that disagrees, and extents the server holds that were never archived.

load helpers
load agent_helpers
load recovery_helpers

setup() {
    new_server
    ARCHIVE="$BATS_TEST_TMPDIR/archive"
}

@test "two archiving runs under their own suffixes leave an unbroken chain with every server extent" {
    two_archive_runs -full -incr
    # The half-filled capture of the first run and the whole copy of the
    # second: one the start of the other.
    [ -f "$ARCHIVE/S0000003.TXN-full" ]
    [ -f "$ARCHIVE/S0000003.TXN-incr" ]
    run ! cmp -s "$ARCHIVE/S0000003.TXN-full" "$ARCHIVE/S0000003.TXN-incr"
    run -0 agent verify "$ARCHIVE" "$SERVER/logdir"
    [ "$output" = "msg=QMR_NSF_SUCCESS" ]
    run agent verify "$ARCHIVE"
    [ "$output" = "msg=QMR_NSF_SUCCESS" ]
}

@test "extents written since the last archiving are named when the log directory is given" {
    two_archive_runs -full -incr
    write_changes mail.nsf 30 >/dev/null
    local last
    last=$(extent_states | tail -n 1 | cut -d' ' -f1)
    run agent verify "$ARCHIVE" "$SERVER/logdir"
    [[ $(field msg) == "Extents of the log directory $SERVER/logdir missing from $ARCHIVE: S00000"*" to $last" ]]
    # Without it, the archive's own chain is whole.
    agent_ok verify "$ARCHIVE" ""
}

@test "a lost archived copy is named as the first missing extent" {
    two_archive_runs -full -incr
    # The second run captured every extent the log directory still held
    # under its own suffix too: both copies go.
    rm "$ARCHIVE"/S0000002.TXN-*
    agent_says "Missing extent S0000002.TXN in $ARCHIVE (missing: S0000002.TXN)" verify "$ARCHIVE" "$SERVER/logdir"
}

@test "a copy whose bytes are not the extent's is reported with the copy it disagrees with" {
    two_archive_runs -full -incr
    # A half-filled capture beside the whole extent, made so on purpose
    # whenever the first run's capture was taken: the first half of the
    # second run's copy.
    local whole="$ARCHIVE/S0000003.TXN-incr" size
    size=$(stat -c %s "$whole")
    # The records would name the swapped copy first: the copies' own rule
    # is what is tested here.
    rm "$ARCHIVE"/nsfmend-archive-*
    head -c $((size / 2)) "$whole" >"$ARCHIVE/S0000003.TXN-full"
    agent_ok verify "$ARCHIVE"
    flip_byte "$ARCHIVE/S0000003.TXN-full" 20
    run agent verify "$ARCHIVE"
    [ "$(field msg)" = "Copies of extent S0000003.TXN disagree: S0000003.TXN-incr and S0000003.TXN-full" ] || { echo "$output"; ls -la "$ARCHIVE"; false; }
    # A fault to OPT=VERIFY too: a recovery could take either copy.
    run -1 nsfmend OPT=VERIFY IN="$ARCHIVE"
    assert_output_has $'\nFAIL copies: of extent S0000003.TXN disagree: S0000003.TXN-incr and S0000003.TXN-full\n'
}

@test "of two copies equally long, the one first by name is the one the other disagrees with" {
    two_archive_runs -full -incr
    local one="$ARCHIVE/S0000002.TXN-full"
    rm "$ARCHIVE"/nsfmend-archive-*
    cp "$one" "$ARCHIVE/S0000002.TXN-a"
    # Whichever of the two is damaged, the text is the same.
    flip_byte "$one" 20
    agent_says "Copies of extent S0000002.TXN disagree: S0000002.TXN-a and S0000002.TXN-full" verify "$ARCHIVE"
    cp "$ARCHIVE/S0000002.TXN-a" "$one"
    flip_byte "$ARCHIVE/S0000002.TXN-a" 20
    agent_says "Copies of extent S0000002.TXN disagree: S0000002.TXN-a and S0000002.TXN-full" verify "$ARCHIVE"
}

@test "the check only reads: no lock file, nothing changed in either folder" {
    two_archive_runs -full -incr
    rm -f "$SERVER/.nsfmend.lock"
    local before
    before=$(tree_sum "$BATS_TEST_TMPDIR")
    agent_ok verify "$ARCHIVE" "$SERVER/logdir"
    [ "$(tree_sum "$BATS_TEST_TMPDIR")" = "$before" ]
    [ ! -e "$SERVER/.nsfmend.lock" ]
}
