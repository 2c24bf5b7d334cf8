#!/usr/bin/env bats
# Check, then act: a run resolves its inputs into one plan before it changes
# anything, stops before its first change when the plan does not hold, and
# uses the one path it resolved for the API, its own file work and its
# output. OPT=CHECK shows the same plan and changes nothing.

load helpers
load recovery_helpers

# Everything under the test's folder: names, types, modes, sizes, times and
# checksums. (The run lock's file, which every run that takes the lock
# leaves, is made before the first look.)
whole_state() { (cd "$BATS_TEST_TMPDIR" && find . -printf '%p %y %m %s %T@\n' | sort; tree_sum .); }

@test "an unreadable cut-off stops a media recovery before notes.ini or the control file is touched" {
    disaster_story
    touch "$SERVER/.nsfmend.lock"
    local text before
    for text in "garbage" "11/15/2013 14:00 and more" "11/15/2013"; do
        before=$(whole_state)
        run -1 nsfmend DATETIME="$text" <<<"Y"
        assert_output_has $'\nFAIL cut-off time: "'"$text"'" '
        refute_output_has "Update "
        refute_output_has "Running media recovery"
        diff <(echo "$before") <(whole_state)
    done
}

@test "a restore whose OUT= folder is missing changes nothing and never says it takes the database offline" {
    mail_story
    serve_and_keep
    run -1 nsfmend OPT=RESTORE IN="$BACKUP" OUT="$SERVER/gone/mail.nsf"
    assert_output_has $'\n Fail to restore database '"$SERVER/gone/mail.nsf"$', Reason=No such file or directory\n'
    refute_output_has "Recovering backup file"
    refute_output_has "Taking database"
    cmp "$BACKUP" "$BATS_TEST_TMPDIR/backup-before"
}

@test "a relative OUT= names the data directory's database for the server, the copy and the output alike" {
    mail_story
    emu server start >/dev/null
    mkdir "$BATS_TEST_TMPDIR/elsewhere"
    cd "$BATS_TEST_TMPDIR/elsewhere"
    run -0 nsfmend OPT=CHECK IN="$BACKUP" OUT=mail.nsf
    assert_output_has $'\nok   restore database: '"$SERVER/mail.nsf"$' is a regular file\n'
    run -0 nsfmend OPT=RESTORE IN="$BACKUP" OUT=mail.nsf
    assert_output_has " Taking database $SERVER/mail.nsf offline ..."
    assert_output_has " Bringing database $SERVER/mail.nsf online ..."
    [ ! -e mail.nsf ]
    [ "$(db_notes "$LIVE")" == "$LATEST" ]
    cmp "$BACKUP" "$LIVE"
}

@test "a FIFO, a device, a folder or a missing file at IN= is refused at once, never handed to the server" {
    mail_story
    mkfifo "$BATS_TEST_TMPDIR/pipe.nsf"
    mkdir "$BATS_TEST_TMPDIR/folder.nsf"
    local in ins=(pipe.nsf folder.nsf)
    # A device no driver answers: opening it would fail with ENXIO.
    if mknod "$BATS_TEST_TMPDIR/device.nsf" c 240 0 2>/dev/null; then ins+=(device.nsf); fi
    for in in "${ins[@]}"; do
        run -1 timeout 60 "$NSFMEND" OPT=CHECK IN="$BATS_TEST_TMPDIR/$in"
        [ "$(fail_detail 'backup file')" = "$BATS_TEST_TMPDIR/$in is not a regular file" ]
        run -1 timeout 60 "$NSFMEND" OPT=RECOVER IN="$BATS_TEST_TMPDIR/$in" OUT="$LIVE"
        assert_output_has $'\n Fail to recover database '"$BATS_TEST_TMPDIR/$in"$', Reason=Not a regular file\n'
    done
}

@test "the extents a backup needs and the newest one OUT= names: a FAIL for a recovery to the latest, the server's to decide for one to a cut-off" {
    mail_story
    emu server start >/dev/null
    # The live database last changed in S0000003.TXN: without it the log
    # ends too early for any recovery to the latest transaction.
    mv "$SERVER/logdir/S0000003.TXN" "$BATS_TEST_TMPDIR/"
    local lost="$LIVE changed in S0000003.TXN; $SERVER/logdir ends at S0000002.TXN, missing S0000003.TXN"
    run -1 nsfmend OPT=CHECK IN="$BACKUP" OUT="$LIVE"
    [ "$(fail_detail extents)" = "$lost" ]
    run -1 nsfmend OPT=RESTORE IN="$BACKUP" OUT="$LIVE"
    refute_output_has "Recovering backup file"
    # To 14:00, before the lost extent began: the server reads up to the
    # backup's first change past the cut-off (14:30, in S0000002.TXN), and
    # completes the restore. So too with a stray extent far past the others.
    local decides="is the server's to decide (it stops at the database's first change past the cut-off)"
    run -0 nsfmend OPT=CHECK IN="$BACKUP" OUT="$LIVE" DATETIME="11/15/2013 14:00"
    assert_output_has $'\nnote extents: '"$lost; whether a recovery to the cut-off reads it $decides"$'\n'
    cp "$SERVER/logdir/S0000001.TXN" "$SERVER/logdir/S0000099.TXN"
    run -0 nsfmend OPT=CHECK IN="$BACKUP" OUT="$LIVE" DATETIME="11/15/2013 14:00"
    assert_output_has $'\nnote extents: S0000001.TXN to S0000099.TXN, 3 extents, missing S0000003.TXN to S0000098.TXN; whether a recovery to the cut-off reads them '"$decides"$'\n'
    cp "$BACKUP" "$BATS_TEST_TMPDIR/backup-before"
    run -0 nsfmend OPT=RESTORE IN="$BACKUP" OUT="$LIVE" DATETIME="11/15/2013 14:00"
    [ "$(db_notes "$LIVE")" == "$AT_1400" ]
    cp "$BATS_TEST_TMPDIR/backup-before" "$BACKUP"
    rm "$SERVER/logdir/S0000099.TXN"
    mv "$BATS_TEST_TMPDIR/S0000003.TXN" "$SERVER/logdir/"

    # The backup's recovery starts in S0000001.TXN, cut-off or not.
    mv "$SERVER/logdir/S0000001.TXN" "$BATS_TEST_TMPDIR/"
    local datetime
    for datetime in "" "11/15/2013 14:00"; do
        run -1 nsfmend OPT=CHECK IN="$BACKUP" DATETIME="$datetime"
        [ "$(fail_detail extents)" = "$BACKUP needs the log from S0000001.TXN on; $SERVER/logdir begins at S0000002.TXN, missing S0000001.TXN" ]
    done
}

@test "the check never takes the run lock, not even shared for an instant" {
    require_strace
    mail_story
    # LeakSanitizer cannot run under a tracer; the other tests check leaks.
    export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
    # The run takes it, and leaves the lock file a check then finds.
    emu server start >/dev/null
    run -0 strace -f -e trace=flock -o "$BATS_TEST_TMPDIR/trace" "$NSFMEND" OPT=RESTORE IN="$BACKUP" OUT="$LIVE"
    grep -q 'flock(.*LOCK_EX|LOCK_NB) *= 0' "$BATS_TEST_TMPDIR/trace"
    local args
    for args in "" "IN=$BACKUP" "IN=$BACKUP OUT=$LIVE"; do
        # shellcheck disable=SC2086
        run strace -f -e trace=flock -o "$BATS_TEST_TMPDIR/trace" "$NSFMEND" OPT=CHECK $args
        [ "$status" -le 2 ]
        run ! grep -q 'flock(' "$BATS_TEST_TMPDIR/trace"
    done
}

@test "after a failed media recovery the check does not start the runtime that would rebuild the control file" {
    disaster_story
    echo "TRANSLOG_Recreate_Logctrl=1" >>"$SERVER/notes.ini"
    rm "$LOGDIR/nlogctrl.lfh"
    local before
    before=$(whole_state)
    run -2 nsfmend OPT=CHECK
    assert_output_has $'\nnote runtime: not started: '"$SERVER/notes.ini"' sets TRANSLOG_Recreate_Logctrl=1 and the log control file is missing'
    [ "${lines[-1]}" = "Verdict: the media recovery cannot be checked without a change (exit status 2)" ]
    refute_output_has "Initialize"
    [ "$(whole_state)" = "$before" ]

    # notes.ini outside the data directory (INI=) names the data directory,
    # and a relative TRANSLOG_Path lies in it, never beside notes.ini.
    mkdir "$BATS_TEST_TMPDIR/etc"
    cp "$SERVER/notes.ini" "$BATS_TEST_TMPDIR/etc/notes.ini"
    grep -qx "TRANSLOG_Path=logdir" "$BATS_TEST_TMPDIR/etc/notes.ini"
    run -2 nsfmend OPT=CHECK INI="$BATS_TEST_TMPDIR/etc/notes.ini"
    cp "$BATS_TEST_TMPDIR/archived-logs/nlogctrl.lfh" "$LOGDIR/"
    run -0 nsfmend OPT=CHECK INI="$BATS_TEST_TMPDIR/etc/notes.ini"
    assert_output_has $'\nInitialization completed successfully\n'
    rm "$LOGDIR/nlogctrl.lfh"

    # The run itself starts it, and the recovery succeeds.
    run -0 nsfmend <<<"Y"
    assert_output_has " Recover $SERVER/mail/ann.nsf till latest transaction"
}

@test "whether the reset can delete the log control file is its folder's write and search permission, never the file's own" {
    disaster_story
    hand_over_to_nobody
    local line="Fail to delete log control file $LOGDIR/nlogctrl.lfh, Reason=Permission denied"
    # A writable file in a read-only folder stays: the check and the run say so.
    chmod 0666 "$LOGDIR/nlogctrl.lfh"
    chmod 0555 "$LOGDIR"
    run -1 "${AS_NOBODY[@]}" "$NSFMEND" OPT=CHECK
    [ "$(fail_detail 'log control file')" = "$line" ]
    run -1 "${AS_NOBODY[@]}" "$NSFMEND" <<<"Y"
    assert_output_has $'\n'"$line"$'\n'
    refute_output_has "Update "
    # A read-only file in a writable folder goes.
    chmod 0444 "$LOGDIR/nlogctrl.lfh"
    chmod 0755 "$LOGDIR"
    run -0 "${AS_NOBODY[@]}" "$NSFMEND" OPT=CHECK
    assert_output_has $'\nnote log control file: '"$LOGDIR/nlogctrl.lfh"$' is there; the reset deletes it\n'
    run -0 "${AS_NOBODY[@]}" "$NSFMEND" <<<"Y"
    assert_output_has $'\nDelete log control file '"$LOGDIR/nlogctrl.lfh"$'\n'
    [ ! -e "$LOGDIR/nlogctrl.lfh" ]
}

@test "a control file that is a folder with something in it fails a media recovery's check and stops the run" {
    disaster_story
    rm "$LOGDIR/nlogctrl.lfh"
    mkdir "$LOGDIR/nlogctrl.lfh"
    touch "$LOGDIR/nlogctrl.lfh/left"
    run -1 nsfmend OPT=CHECK
    [ "$(fail_detail 'log control file')" = "Fail to delete log control file $LOGDIR/nlogctrl.lfh, Reason=Directory not empty" ]
    run -1 nsfmend <<<"Y"
    assert_output_has $'\nFail to delete log control file '"$LOGDIR/nlogctrl.lfh"$', Reason=Directory not empty\n'
    refute_output_has "Update "
    # An empty one the reset removes: a note.
    rm "$LOGDIR/nlogctrl.lfh/left"
    run -0 nsfmend OPT=CHECK
    assert_output_has $'\nnote log control file: '"$LOGDIR/nlogctrl.lfh"$' is there; the reset deletes it\n'
    [ -d "$LOGDIR/nlogctrl.lfh" ]
}

@test "other names in the log directory: twenty are named, the twenty-first is counted" {
    mail_story
    local i
    for i in $(seq -w 1 20); do touch "$SERVER/logdir/note-$i"; done
    run nsfmend OPT=CHECK IN="$BACKUP"
    assert_output_has $'\nnote log directory: 20 other entries, not extents the server reads: note-01, '
    assert_output_has $', note-19, note-20\n'
    refute_output_has "more"
    touch "$SERVER/logdir/note-21"
    run nsfmend OPT=CHECK IN="$BACKUP"
    assert_output_has $', note-19, note-20, and 1 more\n'
    refute_output_has "note-21"
}

# A small file system of its own for the server, so that it can be full.
small_file_system() {
    [ "$(id -u)" -eq 0 ] || skip "mounting a small file system needs root"
    mkdir -p "$BATS_TEST_TMPDIR/small"
    mount -t tmpfs -o size="$1" tmpfs "$BATS_TEST_TMPDIR/small" 2>/dev/null ||
        skip "tmpfs cannot be mounted here"
    SMALL="$BATS_TEST_TMPDIR/small"
}
teardown() {
    if [ -n "${SMALL:-}" ]; then umount "$SMALL" 2>/dev/null || true; fi
    check_handles_left_open
}

@test "no room for the restore's copy, or for the new notes.ini, fails the check and stops the run first" {
    mail_story
    small_file_system 256k
    # The live database on a file system with no room for its new copy.
    mkdir "$SMALL/data"
    cp -a "$LIVE" "$SMALL/data/mail.nsf"
    cat /dev/zero >"$SMALL/filler" 2>/dev/null || true  # full
    emu server start >/dev/null
    run -1 nsfmend OPT=CHECK IN="$BACKUP" OUT="$SMALL/data/mail.nsf"
    [[ $(fail_detail 'free space') == *" free in $SMALL/data, the copy of the backup file needs "* ]]
    cp "$BACKUP" "$BATS_TEST_TMPDIR/backup-before"
    run -1 nsfmend OPT=RESTORE IN="$BACKUP" OUT="$SMALL/data/mail.nsf"
    assert_output_has $'\n Fail to restore database '"$SMALL/data/mail.nsf"$', Reason=No space left on device\n'
    refute_output_has "Recovering backup file"
    cmp "$BACKUP" "$BATS_TEST_TMPDIR/backup-before"

    # notes.ini on a full file system: the reset could not write its copy.
    rm -f "$SMALL/filler" "$SMALL/data/mail.nsf"
    cp "$SERVER/notes.ini" "$SMALL/notes.ini"
    echo "Directory=$SERVER" >>"$SMALL/notes.ini"
    sed -i '0,/^Directory=/{/^Directory=/d}' "$SMALL/notes.ini"
    cat /dev/zero >"$SMALL/filler" 2>/dev/null || true  # full
    # Named by a link in a folder with room, too: the new copy is written
    # beside the file the link names, on the full file system.
    mkdir "$BATS_TEST_TMPDIR/etc"
    ln -s "$SMALL/notes.ini" "$BATS_TEST_TMPDIR/etc/notes.ini"
    local ini
    for ini in "$SMALL/notes.ini" "$BATS_TEST_TMPDIR/etc/notes.ini"; do
        run -1 nsfmend OPT=CHECK INI="$ini"
        [ "$(fail_detail notes.ini)" = "Fail to edit $ini, Reason=No space left on device" ]
        run -1 nsfmend INI="$ini" <<<"Y"
        assert_output_has $'\nFail to edit '"$ini"$'\n'
        refute_output_has "Delete log control file"
    done
}
