#!/usr/bin/env bats
# nsfmend OPT=CHECK without IN=: the preflight of a media recovery after a
# disaster restore. One line per check and a verdict; it changes nothing;
# when it says the recovery would proceed the recovery succeeds, and when it
# says it would fail the recovery fails for the reason it named.

load helpers
load recovery_helpers

# The preflight, its answer channel fed a Y it must never read.
preflight() { nsfmend OPT=CHECK "$@" <<<"Y"; }

@test "on a clean disaster restore it would proceed, changes nothing, and the recovery then succeeds" {
    disaster_story
    local before extents
    before=$(tree_state "$SERVER")
    extents=$(ls "$LOGDIR" | grep -c '^S.*\.TXN$')

    NOTESEMU_CALL_LOG="$BATS_TEST_TMPDIR/calls" run -0 preflight
    [ "$(preflight_lines)" = "Preflight of a media recovery (nothing is changed):
ok   notes.ini: $SERVER/notes.ini can be read and replaced
ok   data directory: $SERVER
ok   log directory: $LOGDIR
ok   extents: S0000001.TXN to S000000$extents.TXN, $extents extents, none missing
note log control file: $LOGDIR/nlogctrl.lfh is there; the reset deletes it
note cut-off time: none: the recovery goes to the latest transaction
ok   databases: 5 found under $SERVER: 4 logged, 1 not logged
ok   run lock: no other run holds $SERVER
note recovery: the server itself decides whether the extents' content is sound, whether the cut-off lies after each database's last change, and whether each database belongs to this server's log
Verdict: the media recovery would proceed" ]
    refute_output_has "Continue ?"
    # Read-only: every file and entry as it was, no lock file, and of the
    # server's calls only the databases opened and closed again.
    [ "$(tree_state "$SERVER")" = "$before" ]
    [ ! -e "$SERVER/.nsfmend.lock" ]
    [ "$(cut -f1 "$BATS_TEST_TMPDIR/calls" | sort -u)" = $'NSFDbClose\nNSFDbOpen' ]
    [ "$(grep -c '^NSFDbOpen' "$BATS_TEST_TMPDIR/calls")" -eq 5 ]

    run -0 nsfmend <<<"Y"
    refute_output_has "Fail to"
    for db in "${DBS[@]}"; do
        diff -u "$BATS_TEST_TMPDIR/before-loss/${db//\//_}.notes" <(db_notes "$db")
    done
}

@test "it shows no checklist and leaves standard input unread" {
    new_server
    run bash -c "printf 'Y\nleft for the next reader\n' | { \"$NSFMEND\" OPT=CHECK >/dev/null; cat; }"
    [ "$output" = $'Y\nleft for the next reader' ]
    # TEST= still wins over every operation.
    run -0 nsfmend OPT=CHECK TEST="runtime OK"
    assert_output_has $'\nruntime OK\n'
    refute_output_has "Preflight"
}

@test "a gap in the extents is named, and the recovery fails for it" {
    disaster_story emu rollover
    rm "$LOGDIR/S0000005.TXN"
    run -1 preflight
    assert_output_has "
FAIL extents: S0000001.TXN to S0000006.TXN, 5 extents, missing S0000005.TXN
"
    assert_output_has $'\nVerdict: the media recovery would fail\n'

    # The run stops at the same line, before anything is reset.
    run -1 nsfmend <<<"Y"
    assert_output_has $'\nFAIL extents: S0000001.TXN to S0000006.TXN, 5 extents, missing S0000005.TXN\n'
    refute_output_has "Update "
}

@test "a database that cannot be opened is named with the sweep's line; the others are recovered, and the run ends with 1" {
    disaster_story
    printf 'not a database' >"$SERVER/mail/bob.nsf"
    run -1 preflight
    assert_output_has "
FAIL databases: 5 found under $SERVER: 3 logged, 1 not logged, 1 cannot be recovered
"
    local line
    line=$(fail_detail database)
    [[ $line == "Fail to open database $SERVER/mail/bob.nsf, Reason="?* ]]
    [ "$(verdict_line)" = "Verdict: the media recovery would proceed, and fail for 1 database named above" ]

    run -1 nsfmend <<<"Y"
    assert_output_has $'\n '"$line"$'\n'
    assert_output_has $'\nMedia recovery: 3 recovered, 1 skipped as not logged, 1 failed\n Failed: '"$SERVER/mail/bob.nsf"$'\n'
    local db
    for db in mail/ann.nsf apps/catalog.nsf names.nsf; do
        diff -u "$BATS_TEST_TMPDIR/before-loss/${db//\//_}.notes" <(db_notes "$db")
    done
}

@test "a database of another log, by the archive records in the log directory, is named; the others are recovered" {
    disaster_story
    foreign_database "$SERVER/mail/foreign.nsf"
    write_archive_record "$LOGDIR"
    run -1 preflight
    local line=" Fail to recover database $SERVER/mail/foreign.nsf, Reason=It belongs to log $(log_id_of mail/foreign.nsf); S0000001.TXN, where its recovery starts, is of log $(log_id_of mail/ann.nsf) (archive record $RECORD)"
    [ "$(fail_detail database)" = "${line# }" ]
    [ "$(verdict_line)" = "Verdict: the media recovery would proceed, and fail for 1 database named above" ]
    run -1 nsfmend <<<"Y"
    assert_output_has $'\n'"$line"$'\n'
    assert_output_has $'\nMedia recovery: 4 recovered, 1 skipped as not logged, 1 failed\n'
}

@test "extents the recovery cannot read are named; other names in the log directory are noted" {
    disaster_story
    rm "$LOGDIR/S0000002.TXN"
    mkfifo "$LOGDIR/S0000002.TXN"    # a recovery would wait on it for ever
    ln -sf nowhere "$LOGDIR/S0000003.TXN"
    touch "$LOGDIR/S0000004.TXN-copy" "$LOGDIR/readme"
    run -1 preflight
    assert_output_has "
FAIL extent: $LOGDIR/S0000002.TXN is not a regular file
FAIL extent: $LOGDIR/S0000003.TXN cannot be read, Reason=No such file or directory
note log directory: 2 other entries, not extents the server reads: S0000004.TXN-copy, readme
"
}

@test "a missing TRANSLOG_Path fails it with the line the reset stops at" {
    disaster_story
    sed -i '/^TRANSLOG_Path=/d' "$SERVER/notes.ini"
    run -1 preflight
    [ "$(fail_detail 'log directory')" = "Fail to get transaction log directory" ]
    refute_output_has "extents:"
    refute_output_has "log control file:"
    run -1 nsfmend <<<"Y"
    assert_output_has $'\nFail to get transaction log directory\n'
}

@test "a notes.ini this user may not replace fails it, and the reset stops at it" {
    command -v setpriv >/dev/null || skip "setpriv is needed to drop privileges"
    disaster_story
    # Everything else is this user's to change; notes.ini only to read.
    chmod -R a+rwX "$SERVER"
    chmod 0644 "$SERVER/notes.ini"
    local dir="$BATS_TEST_TMPDIR"
    while [ "$dir" != / ]; do chmod o+x "$dir"; dir=$(dirname "$dir"); done
    local as=()
    if [ "$(id -u)" -eq 0 ]; then
        as=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    else
        chmod 0444 "$SERVER/notes.ini"
    fi
    run -1 "${as[@]}" "$NSFMEND" OPT=CHECK
    [ "$(fail_detail notes.ini)" = "Fail to edit $SERVER/notes.ini, Reason=Permission denied" ]
    assert_output_has $'\nVerdict: the media recovery would fail\n'

    run -1 "${as[@]}" "$NSFMEND" <<<"Y"
    assert_output_has $'\nFail to edit '"$SERVER/notes.ini"$'\n'
    refute_output_has "Running media recovery"
}

@test "a runtime that does not start ends it with a FAIL and the verdict" {
    new_server
    run -1 nsfmend OPT=CHECK INI="$BATS_TEST_TMPDIR/no-such.ini"
    [ "${lines[-3]}" = "InitNotes failed. Error Code = $(printf '%d' 0x0103)" ] || {
        printf '%s\n' "$output" >&2; false; }
    [ "${lines[-2]}" = "FAIL runtime: did not start with $BATS_TEST_TMPDIR/no-such.ini" ]
    [ "${lines[-1]}" = "Verdict: the media recovery would fail" ]
}
