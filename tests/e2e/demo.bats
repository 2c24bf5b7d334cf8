#!/usr/bin/env bats
# scripts/demo against the build under test, so the story a reader runs
# first keeps working and keeps checking what it claims.

load helpers
load recovery_helpers

: "${BUILD_DIR:?set by CTest}" "${SOURCE_DIR:?set by CTest}"

demo() { TMPDIR="$BATS_TEST_TMPDIR" "$SOURCE_DIR/scripts/demo" "$BUILD_DIR"; }
# The lines of $output after the heading that starts with the given text.
after_heading() { printf '%s\n' "$output" | sed -n "/^== $1/,\$p"; }

@test "the demo restores to the cut-off, recovers the whole data directory and says so" {
    run -0 demo
    assert_output_has "/act1/restore/ann.nsf transactions till transaction in 11/15/2013 11:50:00"
    assert_output_has " Bringing database $BATS_TEST_TMPDIR/nsfmend-demo."
    assert_output_has "  ok: its last change is 11:50"
    assert_output_has "  ok: mail/bob.nsf and apps/catalog.nsf were not touched"
    # The disaster act archives through the agent library, checks the
    # archive (sha256sum and OPT=VERIFY), checks the recovery against the
    # records copied in, with a verdict, and only then recovers.
    assert_output_has $'\nS0000001.TXN: OK\n'
    assert_output_has $'\nVerdict: the archive would serve a recovery\n'
    assert_output_has $'\nok   archive records: 1 in '
    [[ $output == *"Verdict: the archive would serve a recovery"*"Verdict: the media recovery would proceed"* ]]
    assert_output_has $'\nok   extents: S0000001.TXN to S'
    assert_output_has $'\nVerdict: the media recovery would proceed\n'
    assert_output_has "  ok: the preflight says it would proceed, and changed nothing"
    [[ $output == *"Verdict: the media recovery would proceed"*"Continue ? (Y) or (N) "* ]]
    assert_output_has $'Continue ? (Y) or (N) \n'
    assert_output_has "/act2/notesdata/names.nsf till latest transaction"
    refute_output_has "Fail to"
    local verdicts
    verdicts=$(after_heading "Check: every database" | awk '$2 == "same" || $2 == "differs"')
    [ "$verdicts" == "$(printf '  %-18s same\n' apps/catalog.nsf mail/ann.nsf mail/bob.nsf names.nsf)" ]
    # The scratch folder is named at the end and holds both acts.
    [[ ${lines[-1]} =~ ^Both\ acts\ passed\.\ The\ demo\ files\ are\ in\ (.+)$ ]]
    [[ ${BASH_REMATCH[1]} == "$BATS_TEST_TMPDIR"/nsfmend-demo.* ]]
    [ -f "${BASH_REMATCH[1]}/act1/restore/ann.nsf" ]
    [ -f "${BASH_REMATCH[1]}/act2/notesdata/notes.ini" ]
    # Nothing but plain text when the output is not a terminal.
    refute_output_has $'\033'
}

@test "a database the sweep could not recover fails nsfmend, and the demo stops there" {
    # The second recovery of each nsfmend run fails: act 1 makes one, the
    # sweep of act 2 four; the sweep goes on, names the failure and exits 1.
    NOTESEMU_FAIL="NSFRecoverDatabases#2=272" run -1 demo
    assert_output_has " Fail to recover database "
    assert_output_has $'Media recovery: 3 recovered, 0 skipped as not logged, 1 failed\n Failed: '
    refute_output_has "Check: every database"
    assert_output_has "demo FAILED (exit status 1); its files are in $BATS_TEST_TMPDIR/nsfmend-demo."
    refute_output_has "Both acts passed."
}

@test "a failing step stops the demo where it fails" {
    NOTESEMU_FAIL="NSFTakeDatabaseOffline=4001" run -1 demo
    assert_output_has " Fail to take database "
    refute_output_has "== The live database after the restore"
    refute_output_has "Act 2"
    assert_output_has "demo FAILED (exit status 1)"
}

@test "the demo names a missing build instead of running half a story" {
    TMPDIR="$BATS_TEST_TMPDIR" run -1 "$SOURCE_DIR/scripts/demo" "$BATS_TEST_TMPDIR/no-build"
    assert_output_has "is not built"
    [ -z "$(find "$BATS_TEST_TMPDIR" -maxdepth 1 -name 'nsfmend-demo.*')" ]
}
