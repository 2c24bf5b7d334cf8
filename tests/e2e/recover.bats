#!/usr/bin/env bats
# OPT=RECOVER: a backup file rolled forward, to the latest transaction or to
# a cut-off time read as GMT+0, with the ID options; what is refused.

load helpers
load recovery_helpers

setup() { mail_story; }

@test "recover to the latest transaction replays every later change into the backup only" {
    cp "$LIVE" "$BATS_TEST_TMPDIR/live-before"
    run -0 nsfmend OPT=RECOVER IN="$BACKUP" OUT="$LIVE"
    assert_output_has $'\n\n Recovering backup file '"$BACKUP"$'...\n Recover '"$BACKUP"$' till latest transaction\n'
    refute_output_has "Taking database"
    [ "$(db_notes "$BACKUP")" == "$LATEST" ]
    cmp "$LIVE" "$BATS_TEST_TMPDIR/live-before"
}

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

@test "a cut-off before every logged change leaves the notes of the backup" {
    run -0 nsfmend OPT=RECOVER IN="$BACKUP" OUT="$LIVE" DATETIME="11/15/2013 11:45"
    [ "$(db_notes "$BACKUP")" == "$AT_BACKUP" ]
}

@test "a cut-off before the backup's own last change is refused and the backup left as it was" {
    cp "$BACKUP" "$BATS_TEST_TMPDIR/before"
    for text in "01/01/1970 00:00" "11/15/2013 11:15"; do
        run -1 nsfmend OPT=RECOVER IN="$BACKUP" OUT="$LIVE" DATETIME="$text"
        assert_output_has " Fail to recover database $BACKUP, Reason=The recovery time is earlier than the last change in the backup file"
        refute_output_has "till transaction in"
        cmp "$BACKUP" "$BATS_TEST_TMPDIR/before"
    done
    # Exactly at its last change (11:30) is where the backup already stands.
    run -0 nsfmend OPT=RECOVER IN="$BACKUP" OUT="$LIVE" DATETIME="11/15/2013 11:30"
    [ "$(db_notes "$BACKUP")" == "$AT_BACKUP" ]
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

@test "NEW_DBIID gives a new instance ID and keeps the replica ID" {
    local iid rid
    iid=$(db_field "$BACKUP" instance-id)
    rid=$(db_field "$BACKUP" replica-id)
    run -0 nsfmend OPT=RECOVER FLAG=NEW_DBIID IN="$BACKUP" OUT="$LIVE"
    [ "$(db_field "$BACKUP" instance-id)" != "$iid" ]
    [ "$(db_field "$BACKUP" replica-id)" == "$rid" ]
}

@test "with both ID flags only the new replica ID is asked for" {
    local iid rid
    iid=$(db_field "$BACKUP" instance-id)
    rid=$(db_field "$BACKUP" replica-id)
    run -0 nsfmend OPT=RECOVER FLAG=NEW_DBIID FLAG=NEW_REPID IN="$BACKUP" OUT="$LIVE"
    [ "$(db_field "$BACKUP" replica-id)" != "$rid" ]
    [ "$(db_field "$BACKUP" instance-id)" == "$iid" ]
    [ "$(db_notes "$BACKUP")" == "$LATEST" ]
}

@test "NEW_REPID with a cut-off time gives a new replica ID at that point" {
    local rid
    rid=$(db_field "$BACKUP" replica-id)
    run -0 nsfmend OPT=RECOVER FLAG=NEW_REPID IN="$BACKUP" OUT="$LIVE" DATETIME="11/15/2013 14:00"
    [ "$(db_field "$BACKUP" replica-id)" != "$rid" ]
    [ "$(db_notes "$BACKUP")" == "$AT_1400" ]
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

@test "a missing backup file is a recovery failure" {
    run -1 nsfmend OPT=RECOVER IN="$BATS_TEST_TMPDIR/none.nsf" OUT="$LIVE"
    assert_output_has " Fail to recover database $BATS_TEST_TMPDIR/none.nsf, Reason="
}

@test "a backup path the file system cannot take gives a text that says so" {
    local long
    long="$BATS_TEST_TMPDIR/$(printf 'x%.0s' $(seq 300)).nsf"
    run -1 nsfmend OPT=RECOVER IN="$long" OUT="$LIVE"
    assert_output_has " Fail to recover database $long, Reason=File name or path is too long"
}

# flags, cut-off or "-", the flag word the API gets, whether the instance ID
# and the replica ID change. With a cut-off the instance-ID request is not
# passed on (8, not 10); the recovered history forks, so the emulator gives
# a new instance ID anyway.
@test "every combination of a cut-off with NEW_DBIID and NEW_REPID" {
    export NOTESEMU_CALL_LOG="$BATS_TEST_TMPDIR/calls"
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
        grep -q $'^NSFRecoverDatabases\t.*\tflags='"$word"$'\t' "$NOTESEMU_CALL_LOG" ||
            { echo "$flags $cutoff:"; cat "$NOTESEMU_CALL_LOG"; false; }
        [ "$( [ "$(db_field "$BATS_TEST_TMPDIR/try.nsf" instance-id)" != "$iid" ] && echo yes || echo no)" = "$newiid" ]
        [ "$( [ "$(db_field "$BATS_TEST_TMPDIR/try.nsf" replica-id)" != "$rid" ] && echo yes || echo no)" = "$newrid" ]
        if [ "$cutoff" = - ]; then
            assert_output_has " Recover $BATS_TEST_TMPDIR/try.nsf till latest transaction"
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
