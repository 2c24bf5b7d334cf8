#!/usr/bin/env bats
# The archive records an archiving run writes, read by sha256sum itself and
# by nsfmend OPT=VERIFY; a record written by the other architecture's build
# read by this one; and OPT=CHECK of a media recovery whose log directory
# holds the archive with its records.

load helpers
load recovery_helpers
load agent_helpers

setup() {
    new_server
    ARCHIVE="$BATS_TEST_TMPDIR/archive"
}

# Two runs without suffixes.
two_runs() { two_archive_runs "" ""; }

@test "each run writes one record that sha256sum -c accepts, with sizes and the log ID as comments; a run with nothing new writes none" {
    two_runs
    local records first second log_id before
    records=$(archive_records "$ARCHIVE")
    [ "$(wc -l <<<"$records")" -eq 2 ]
    first=$(head -n 1 <<<"$records") second=$(tail -n 1 <<<"$records")
    [[ $first < $second ]]
    # Each record on its own, as an administrator would check it. The first
    # run's capture of the extent then being filled has grown since.
    run -1 bash -c "cd '$ARCHIVE' && sha256sum -c --strict '$first'"
    assert_output_has "S0000003.TXN: FAILED"
    run -0 bash -c "cd '$ARCHIVE' && sha256sum -c --strict '$second'"
    # The lines in force: every archived file, as it is.
    run -0 check_records "$ARCHIVE"
    [ "$(grep -c ': OK$' <<<"$output")" -eq "$(archived_files "$ARCHIVE" | wc -l)" ]

    # Size and log ID on the comment before each checksum line; the server's
    # log ID is the one the database carries.
    log_id=$(db_field mail.nsf log-id)
    [ "$(head -n 1 "$ARCHIVE/$first")" = "# nsfmend archive record 1: sha256sum -c <record> checks it in its folder" ]
    grep -qx "# size $(stat -c %s "$ARCHIVE/S0000001.TXN") log $log_id" "$ARCHIVE/$first"
    # A captured file came with no log ID.
    [[ $(grep -B1 '  S0000003.TXN$' "$ARCHIVE/$first" | head -n 1) =~ ^#\ size\ [0-9]+$ ]]
    [[ $(grep -B1 '  S0000003.TXN$' "$ARCHIVE/$second" | head -n 1) == *" log $log_id" ]]

    # A run that finds everything recorded writes no record and changes nothing.
    before=$(cd "$ARCHIVE" && ls -il --full-time)
    agent_ok spool "$ARCHIVE" ""
    [ "$(cd "$ARCHIVE" && ls -il --full-time)" = "$before" ]
}

@test "a name sha256sum escapes is written and read back as sha256sum does" {
    write_changes mail.nsf 5
    agent_ok spool "$ARCHIVE" $'\\new\nline'
    run -0 check_records "$ARCHIVE"
    run -0 bash -c "cd '$ARCHIVE' && sha256sum -c --strict nsfmend-archive-*"
    run -0 nsfmend OPT=VERIFY IN="$ARCHIVE"
    assert_output_has "ok   archived files: 2 files as recorded (size and SHA-256)"
}

@test "OPT=VERIFY: one line per check and a verdict, nothing changed, no runtime asked" {
    two_runs
    rm -f "$SERVER/.nsfmend.lock"
    local before
    before=$(tree_state "$BATS_TEST_TMPDIR")
    # No checklist is shown and no answer read, even without OUT=; a
    # notes.ini that cannot be found does not matter.
    NOTES_DATA_DIR=/nowhere NOTESEMU_CALL_LOG="$BATS_TEST_TMPDIR/calls" \
        run -0 nsfmend OPT=VERIFY IN="$ARCHIVE" OUT="$SERVER/logdir" <<<"Y"
    local latest
    latest=$(archive_records "$ARCHIVE" | tail -n 1)
    [ "$(printf '%s\n' "$output" | sed -n '/^Verification/,$p')" = "Verification of an archive folder (nothing is changed):
ok   archive folder: $ARCHIVE
ok   archive records: 2 records in $ARCHIVE, 8 files listed, latest $latest
ok   extents: S0000001.TXN to S0000008.TXN, 8 extents there, none missing
ok   archived files: 8 files as recorded (size and SHA-256)
ok   log: every recorded extent is of log $(db_field mail.nsf log-id)
ok   log directory: $SERVER/logdir holds no extent the archive lacks
Verdict: the archive would serve a recovery" ]
    refute_output_has "Continue ?"
    refute_output_has "Initialize"
    [ "$(tree_state "$BATS_TEST_TMPDIR")" = "$before" ]
    [ ! -e "$BATS_TEST_TMPDIR/calls" ]
    [ ! -e "$SERVER/.nsfmend.lock" ]
}

@test "OPT=VERIFY names every finding, where the agent names the first" {
    two_runs
    local first
    first=$(archive_records "$ARCHIVE" | head -n 1)
    rm "$ARCHIVE/S0000001.TXN"
    flip_byte "$ARCHIVE/S0000004.TXN" 60
    cp "$ARCHIVE/S0000005.TXN" "$ARCHIVE/S0000005.TXN-copy"
    write_changes mail.nsf 8 >/dev/null
    run -1 nsfmend OPT=VERIFY IN="$ARCHIVE" OUT="$SERVER/logdir"
    assert_output_has $'\nFAIL extents: S0000001.TXN to S0000008.TXN, 7 extents there, missing S0000001.TXN\n'
    assert_output_has $'\nFAIL archived file: '"$ARCHIVE/S0000001.TXN listed in archive record $first is missing"$'\n'
    assert_output_has $'\nFAIL archived file: '"$ARCHIVE/S0000004.TXN does not match archive record "
    assert_output_has $'\nnote archive folder: 1 other entry, not archived extents: S0000005.TXN-copy\n'
    assert_output_has $'\nFAIL log directory: '"$SERVER/logdir holds extents the archive lacks: S0000001.TXN, S0000009.TXN to S0000010.TXN"
    assert_output_has $'\nVerdict: the archive would not serve a recovery'
    agent_says "Missing extent S0000001.TXN in $ARCHIVE (missing: S0000001.TXN)" verify "$ARCHIVE" "$SERVER/logdir"
}

@test "OPT=VERIFY without records checks names only and says so; without IN= it fails" {
    write_changes mail.nsf 11
    mkdir -p "$ARCHIVE"
    cp "$SERVER"/logdir/S*.TXN "$ARCHIVE/"
    run -0 nsfmend OPT=VERIFY IN="$ARCHIVE"
    assert_output_has $'\nnote archive records: none in '"$ARCHIVE"$'; every file is checked by name only\n'
    refute_output_has "archived files"
    run -1 nsfmend OPT=VERIFY
    assert_output_has $'\nFAIL archive folder: none given: IN= names it\nVerdict: the archive would not serve a recovery'
    run -1 nsfmend OPT=VERIFY IN="$BATS_TEST_TMPDIR/none"
    assert_output_has "FAIL archive folder: $BATS_TEST_TMPDIR/none cannot be listed, Reason=No such file or directory"
    # TEST= still wins over every operation.
    run -0 nsfmend OPT=VERIFY IN="$ARCHIVE" TEST="runtime OK"
    assert_output_has $'\nruntime OK\n'
}

# The other architecture's build tree beside this one, when it was built.
other_build() {
    local other
    if [ "${NSFMEND_32BIT:-OFF}" = ON ]; then other=x86_64; else other=i386; fi
    other="$(dirname "$BUILD_DIR")/$other"
    [ -x "$other/src/nsfmend" ] && [ -e "$other/src/libnsfmend.so.0" ] || return 1
    echo "$other"
}

@test "a record written by the other architecture's build is verified by this one, and the other way round" {
    # make test builds and tests x86-64 first, so the i386 tree's run finds
    # a 64-bit build of the same sources; the 64-bit tree's run could find
    # an i386 build of older ones. Both directions are checked from there.
    [ "${NSFMEND_32BIT:-OFF}" = ON ] || skip "checked from the i386 build, against this one"
    local other
    other=$(other_build) || skip "the other architecture's build is not there"
    if [ "$(cat "$(dirname "$BUILD_DIR")/i386-runtime" 2>/dev/null)" = build-only ]; then
        skip "this machine cannot run the i386 programs"
    fi
    # The other build's agent client, compiled as this file's is.
    local flags=() client="$BATS_TEST_TMPDIR/other_client"
    [ "${NSFMEND_32BIT:-OFF}" = ON ] || flags+=(-m32)
    mkdir -p "$BATS_TEST_TMPDIR/platform"
    cp "$SOURCE_DIR/src/notesapi/notesapi.h" "$BATS_TEST_TMPDIR/platform/"
    cc -std=c11 "${flags[@]}" -I"$SOURCE_DIR/src/agent/include" -I"$BATS_TEST_TMPDIR/platform" \
        "$SOURCE_DIR/tests/agent_c/agent_client.c" -o "$client" \
        -L"$other/src" -lnsfmend -L"$other/emulator" -lnotes ||
        skip "no compiler for the other architecture here"
    write_changes mail.nsf 11
    run env LD_LIBRARY_PATH="$other/src:$other/emulator" "$client" spool "$ARCHIVE" ""
    [ "$(field msg)" = QMR_NSF_SUCCESS ]
    write_changes mail.nsf 20 >/dev/null
    agent_ok spool "$ARCHIVE" ""
    [ "$(archive_records "$ARCHIVE" | wc -l)" -eq 2 ]
    run -0 nsfmend OPT=VERIFY IN="$ARCHIVE"
    assert_output_has "ok   archived files: 8 files as recorded (size and SHA-256)"
    run -0 "$other/src/nsfmend" OPT=VERIFY IN="$ARCHIVE"
    assert_output_has "ok   archived files: 8 files as recorded (size and SHA-256)"
}

@test "OPT=CHECK of a media recovery checks the log directory's extents against the records copied in" {
    rm -rf "$SERVER"
    disaster_story
    # The archive, made by the agent before the disk was lost, comes back
    # into the log directory with its records.
    local archive="$BATS_TEST_TMPDIR/archived-by-agent"
    mkdir -p "$archive"
    cp "$BATS_TEST_TMPDIR"/archived-logs/S*.TXN "$archive/"
    local record
    record=nsfmend-archive-20131115T120000Z.sha256
    { echo "# nsfmend archive record 1: sha256sum -c <record> checks it in its folder"
      for f in "$archive"/S*.TXN; do
          echo "# size $(stat -c %s "$f")"
          (cd "$archive" && sha256sum "${f##*/}")
      done; } >"$archive/$record"
    cp "$archive/$record" "$LOGDIR/"
    run -0 nsfmend OPT=CHECK <<<"Y"
    local count
    count=$(ls "$archive" | grep -c '\.TXN$')
    assert_output_has $'\nok   archive records: 1 in '"$LOGDIR, $count extents as recorded (size and SHA-256)"$'\n'

    # The newest extent lost: the recovery would succeed short of it.
    local newest
    newest=$(cd "$LOGDIR" && ls S*.TXN | tail -n 1)
    rm "$LOGDIR/$newest"
    run -1 nsfmend OPT=CHECK <<<"Y"
    assert_output_has $'\nFAIL extent: '"$newest listed in archive record $record is not in $LOGDIR"$'\n'
    assert_output_has "Verdict: the media recovery would fail"

    # One damaged: named with what differs.
    cp "$archive/$newest" "$LOGDIR/"
    flip_byte "$LOGDIR/S0000002.TXN" 50
    run -1 nsfmend OPT=CHECK <<<"Y"
    assert_output_has $'\nFAIL extent: '"$LOGDIR/S0000002.TXN does not match archive record $record (same size, another SHA-256)"$'\n'

    # Without records nothing is said about them.
    cp "$archive/S0000002.TXN" "$LOGDIR/"
    rm "$LOGDIR/$record"
    run -0 nsfmend OPT=CHECK <<<"Y"
    refute_output_has "archive record"
}
