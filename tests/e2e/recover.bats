#!/usr/bin/env bats
# OPT=RECOVER: a backup file rolled forward, to the latest transaction or to
# a cut-off time read as GMT+0, with the ID options; what is refused.

load helpers
load recovery_helpers

setup() { mail_story; }

@test "a cut-off time means GMT+0 whatever the local zone, and is read once" {
    for zone in UTC America/New_York Asia/Kolkata; do
        cp "$BACKUP" "$BATS_TEST_TMPDIR/try.nsf"
        # Read once, by the plan: a second reading of the text would fail.
        TZ=$zone NOTESEMU_FAIL="ConvertTextToTIMEDATE#2=4005" run -0 nsfmend OPT=RECOVER \
            IN="$BATS_TEST_TMPDIR/try.nsf" OUT="$LIVE" DATETIME="11/15/2013 14:00"
        assert_output_has " Recover $BATS_TEST_TMPDIR/try.nsf transactions till transaction in "
        [ "$(db_notes "$BATS_TEST_TMPDIR/try.nsf")" == "$AT_1400" ] || {
            echo "TZ=$zone recovered:"; db_notes "$BATS_TEST_TMPDIR/try.nsf"; false; }
    done
}

@test "a cut-off before the backup's own last change is refused and the backup left as it was; at or after it, the backup's notes stay" {
    cp "$BACKUP" "$BATS_TEST_TMPDIR/before"
    for text in "01/01/1970 00:00" "11/15/2013 11:15"; do
        run -1 nsfmend OPT=RECOVER IN="$BACKUP" OUT="$LIVE" DATETIME="$text"
        assert_output_has " Fail to recover database $BACKUP, Reason=The recovery time is earlier than the last change in the backup file"
        refute_output_has "till transaction in"
        cmp "$BACKUP" "$BATS_TEST_TMPDIR/before"
    done
    # Exactly at its last change (11:30) is where the backup already stands;
    # a cut-off before every logged change (11:45) leaves it so.
    for text in "11/15/2013 11:30" "11/15/2013 11:45"; do
        run -0 nsfmend OPT=RECOVER IN="$BACKUP" OUT="$LIVE" DATETIME="$text"
        [ "$(db_notes "$BACKUP")" == "$AT_BACKUP" ]
    done
}

@test "a DATETIME value with a leading blank recovers to the latest transaction" {
    run -0 nsfmend OPT=RECOVER IN="$BACKUP" OUT="$LIVE" DATETIME=" 11/15/2013 14:00"
    assert_output_has " Recover $BACKUP till latest transaction"
    [ "$(db_notes "$BACKUP")" == "$LATEST" ]
}

@test "a DATETIME that does not parse is a recovery failure and the backup is untouched" {
    cp "$BACKUP" "$BATS_TEST_TMPDIR/before"
    for text in "2013-11-15 14:00" "tomorrow-ish" "13/45/2013 25:61"; do
        run -1 nsfmend OPT=RECOVER IN="$BACKUP" OUT="$LIVE" DATETIME="$text"
        # Found before anything is recovered: the recovery's own line, and
        # no recovery begun.
        assert_output_has $'\nInitialization completed successfully\n Fail to recover database '"$BACKUP"', Reason='
        refute_output_has "Recovering backup file"
        cmp "$BACKUP" "$BATS_TEST_TMPDIR/before"
    done
}

@test "an operation other than the three does nothing and ends with 0" {
    cp "$BACKUP" "$BATS_TEST_TMPDIR/before"
    for op in recover RESTORE_ "NOTE " BACKUP ""; do
        run -0 nsfmend OPT="$op" IN="$BACKUP" OUT="$LIVE"
        refute_output_has "Recovering backup file"
        assert_output_has "Terminate..."
        cmp "$BACKUP" "$BATS_TEST_TMPDIR/before"
    done
}

@test "a failed recovery names the API's reason and leaves the backup as it was" {
    cp "$BACKUP" "$BATS_TEST_TMPDIR/before"
    NOTESEMU_FAIL="NSFRecoverDatabases=4000" run -1 nsfmend OPT=RECOVER IN="$BACKUP" OUT="$LIVE"
    assert_output_has " Fail to recover database $BACKUP, Reason=error_code=4000"
    cmp "$BACKUP" "$BATS_TEST_TMPDIR/before"

    # A missing extent: the chain of logs is broken, nothing is replayed,
    # and the run says so before it begins.
    rm -f "$SERVER"/logdir/S0000002.TXN
    run -1 nsfmend OPT=RECOVER IN="$BACKUP" OUT="$LIVE"
    assert_output_has $'\nFAIL extents: S0000001.TXN to S0000003.TXN, 2 extents, missing S0000002.TXN\n'
    refute_output_has "Recovering backup file"
    cmp "$BACKUP" "$BATS_TEST_TMPDIR/before"
}

@test "a missing backup file is a recovery failure; a path the file system cannot take gives a text that says so" {
    local long path
    long="$BATS_TEST_TMPDIR/$(printf 'x%.0s' $(seq 300)).nsf"
    for path in "$BATS_TEST_TMPDIR/none.nsf|" "$long|File name or path is too long"; do
        run -1 nsfmend OPT=RECOVER IN="${path%|*}" OUT="$LIVE"
        assert_output_has " Fail to recover database ${path%|*}, Reason=${path#*|}"
    done
}

# flags, cut-off or "-", the flag word the API gets, whether the instance ID
# and the replica ID change. With a cut-off the instance-ID request is not
# passed on (8, not 10); the recovered history forks, so the emulator gives
# a new instance ID anyway. Only the backup changes, never the live database.
@test "recovery to the latest transaction or a cut-off, with every combination of NEW_DBIID and NEW_REPID" {
    export NOTESEMU_CALL_LOG="$BATS_TEST_TMPDIR/calls"
    cp "$LIVE" "$BATS_TEST_TMPDIR/live-before"
    local iid rid flags cutoff word newiid newrid args
    iid=$(db_field "$BACKUP" instance-id)
    rid=$(db_field "$BACKUP" replica-id)
    while read -r flags cutoff word newiid newrid; do
        cp "$BACKUP" "$BATS_TEST_TMPDIR/try.nsf"
        rm -f "$NOTESEMU_CALL_LOG"
        args=(OPT=RECOVER IN="$BATS_TEST_TMPDIR/try.nsf" OUT="$LIVE")
        [ "$flags" = none ] || for f in ${flags//,/ }; do args+=(FLAG="$f"); done
        [ "$cutoff" = - ] || args+=(DATETIME="11/15/2013 $cutoff")
        TZ=UTC run nsfmend "${args[@]}"
        [ "$status" -eq 0 ] || { echo "$flags $cutoff: $output"; false; }
        refute_output_has "Taking database"
        cmp "$LIVE" "$BATS_TEST_TMPDIR/live-before"
        grep -q $'^NSFRecoverDatabases\t.*\tflags='"$word"$'\t' "$NOTESEMU_CALL_LOG" ||
            { echo "$flags $cutoff:"; cat "$NOTESEMU_CALL_LOG"; false; }
        [ "$( [ "$(db_field "$BATS_TEST_TMPDIR/try.nsf" instance-id)" != "$iid" ] && echo yes || echo no)" = "$newiid" ]
        [ "$( [ "$(db_field "$BATS_TEST_TMPDIR/try.nsf" replica-id)" != "$rid" ] && echo yes || echo no)" = "$newrid" ]
        if [ "$cutoff" = - ]; then
            assert_output_has $'\n\n Recovering backup file '"$BATS_TEST_TMPDIR/try.nsf"$'...\n Recover '"$BATS_TEST_TMPDIR/try.nsf"$' till latest transaction\n'
            [ "$(db_notes "$BATS_TEST_TMPDIR/try.nsf")" == "$LATEST" ]
        else
            grep -q $'\ttime=2013-11-15T'"$cutoff"$':00Z\t' "$NOTESEMU_CALL_LOG"
            # The line names the last change replayed (13:30), not the cut-off.
            assert_output_has " Recover $BATS_TEST_TMPDIR/try.nsf transactions till transaction in 11/15/2013 13:30:00"
            [ "$(db_notes "$BATS_TEST_TMPDIR/try.nsf")" == "$AT_1400" ]
        fi
    done <<'TABLE'
none - 0 no no
NEW_DBIID - 2 yes no
NEW_REPID - 16 no yes
NEW_DBIID,NEW_REPID - 16 no yes
none 14:00 8 yes no
NEW_DBIID 14:00 8 yes no
NEW_REPID 14:00 24 yes yes
NEW_DBIID,NEW_REPID 14:00 24 yes yes
TABLE
}
