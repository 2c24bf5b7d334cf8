#!/usr/bin/env bats
# One run at a time: media recovery, a restore and the archiving hold the
# data directory's run lock; a second run stops at once with one line (or
# message text) and changes nothing. A run is held in the middle of its work
# by the fault shim's pause, so the second one meets it for certain. The
# preflight sees the held lock without taking or making it.

load helpers
load recovery_helpers
load agent_helpers

setup() {
    require_faultshim
    PAUSE="$BATS_TEST_TMPDIR/paused"
}

teardown() {
    # Never leave a held run behind, whatever failed.
    rm -f "$PAUSE"
    wait
    check_handles_left_open
}

# Starts "$@" in the background, held at the first call named $1 after the
# run lock is taken; returns once it is held there. Its output goes to
# $BATS_TEST_TMPDIR/held.out, its exit status to held.status.
start_held() {
    local call=$1
    shift
    (
        status=0
        FAULTSHIM_CALLS=$call FAULTSHIM_AT=1 FAULTSHIM_ACTION=pause FAULTSHIM_PAUSE="$PAUSE" \
            LD_PRELOAD="$FAULTSHIM" "$@" >"$BATS_TEST_TMPDIR/held.out" 2>&1 || status=$?
        echo "$status" >"$BATS_TEST_TMPDIR/held.status"
    ) &
    local i
    for ((i = 0; i < 3000; i++)); do
        [ -e "$PAUSE" ] && return 0
        sleep 0.02
    done
    echo "the held run never reached $call" >&2
    return 1
}

# Lets the held run go on and waits for it; its status in HELD_STATUS.
release_held() {
    rm -f "$PAUSE"
    wait
    HELD_STATUS=$(cat "$BATS_TEST_TMPDIR/held.status")
}

media_recovery() { "$NSFMEND" <<<Y; }
archive_run() { LD_LIBRARY_PATH="$AGENT_LIBDIR:$LIBNOTES_DIR" "$AGENT_CLIENT" spool "$ARCHIVE" ""; }

BUSY_LINE() { echo "Another nsfmend run is working on $SERVER; nothing was changed"; }

@test "a second media recovery is refused while one runs, and notes.ini stays whole" {
    new_server
    printf 'Comment=%06000d\n' 0 >>"$SERVER/notes.ini"   # a notes.ini of some size
    cp "$SERVER/notes.ini" "$BATS_TEST_TMPDIR/ini-before"
    # Held just before its new notes.ini takes the old one's place.
    start_held renameat media_recovery

    run -1 media_recovery
    assert_output_has "$(BUSY_LINE)"
    refute_output_has "Update "
    refute_output_has "Delete log control file"
    cmp "$SERVER/notes.ini" "$BATS_TEST_TMPDIR/ini-before"

    release_held
    [ "$HELD_STATUS" -eq 0 ]
    grep -q "^Update $SERVER/notes.ini with TRANSLOG_Recreate_Logctrl=1$" "$BATS_TEST_TMPDIR/held.out"
    [ "$(cat "$SERVER/notes.ini")" = "$(cat "$BATS_TEST_TMPDIR/ini-before"; echo TRANSLOG_Recreate_Logctrl=1)" ]
    [ -z "$(leftovers "$SERVER")" ]
}

@test "two media recoveries started together: one is refused or both run in turn, notes.ini whole" {
    new_server
    printf 'Comment=%06000d\n' 0 >>"$SERVER/notes.ini"
    want="$(cat "$SERVER/notes.ini"; echo TRANSLOG_Recreate_Logctrl=1)"
    local round
    for round in 1 2 3 4 5; do
        media_recovery >"$BATS_TEST_TMPDIR/a.out" 2>&1 &
        local first=$!
        media_recovery >"$BATS_TEST_TMPDIR/b.out" 2>&1 &
        local second=$! a=0 b=0
        wait "$first" || a=$?
        wait "$second" || b=$?
        for run in a:$a b:$b; do
            if [ "${run#*:}" -ne 0 ]; then
                grep -qxF "$(BUSY_LINE)" "$BATS_TEST_TMPDIR/${run%%:*}.out"
                run ! grep -q '^Update ' "$BATS_TEST_TMPDIR/${run%%:*}.out"
            fi
        done
        [ "$a" -eq 0 ] || [ "$b" -eq 0 ]
        [ "$(cat "$SERVER/notes.ini")" = "$want" ]
        [ -z "$(leftovers "$SERVER")" ]
    done
}

@test "the preflight sees a run that holds the lock, and the run it checks is refused the same way" {
    mail_story
    start_held renameat media_recovery

    run -1 nsfmend OPT=CHECK
    [ "$(fail_detail 'run lock')" = "$(BUSY_LINE)" ]
    run -1 media_recovery
    assert_output_has $'\n'"$(BUSY_LINE)"$'\n'
    run -1 nsfmend OPT=CHECK IN="$BACKUP" OUT="$LIVE"
    [ "$(fail_detail 'run lock')" = "$(BUSY_LINE)" ]
    # A recovery of a backup file takes no lock: a note, and it goes on.
    run -0 nsfmend OPT=CHECK IN="$BACKUP"
    assert_output_has $'\nnote run lock: '"$(BUSY_LINE)"$' (a recovery of a backup file does not take the lock)\n'

    release_held
    [ "$HELD_STATUS" -eq 0 ]
    # Once it is done, the lock is free again; the preflight left it as it
    # was. The log control file is rebuilt when the runtime next starts,
    # which the check does not do.
    run -2 nsfmend OPT=CHECK IN="$BACKUP" OUT="$LIVE"
    [ ! -e "$SERVER/logdir/nlogctrl.lfh" ]
    run nsfmend TEST=started
    [ -f "$SERVER/logdir/nlogctrl.lfh" ]
    run nsfmend OPT=CHECK IN="$BACKUP" OUT="$LIVE"
    assert_output_has $'\nok   run lock: no other run holds '"$SERVER"$'\n'
}

@test "a second archive run is refused while one runs; nothing is lost or left behind" {
    new_server
    write_changes mail.nsf 13
    ARCHIVE="$BATS_TEST_TMPDIR/archive"
    # Held as it places its first copy.
    start_held renameat2 archive_run
    listing=$(ls -A "$ARCHIVE")

    run archive_run
    [ "$(field msg)" = "$(BUSY_LINE)" ]
    [ "$(field stamp)" = untouched ]
    [ "$(ls -A "$ARCHIVE")" = "$listing" ]

    release_held
    grep -qx 'msg=QMR_NSF_SUCCESS' "$BATS_TEST_TMPDIR/held.out"
    [ "$(extent_states | tr '\n' ' ')" = "S0000001.TXN archived S0000002.TXN archived S0000003.TXN archived S0000004.TXN current " ]
    for n in 1 2 3 4; do cmp "$SERVER/logdir/S000000$n.TXN" "$ARCHIVE/S000000$n.TXN"; done
    [ "$(archived_files "$ARCHIVE" | tr '\n' ' ')" = "S0000001.TXN S0000002.TXN S0000003.TXN S0000004.TXN " ]
    [ "$(archive_records "$ARCHIVE" | wc -l)" -eq 1 ]
}

@test "two archive runs started together: one is refused or both succeed, nothing lost or left behind" {
    new_server
    ARCHIVE="$BATS_TEST_TMPDIR/archive"
    local round n=0
    for round in 1 2 3 4 5; do
        write_changes mail.nsf $((n + 5)) >/dev/null
        n=$((n + 5))
        archive_run >"$BATS_TEST_TMPDIR/a.out" 2>&1 &
        archive_run >"$BATS_TEST_TMPDIR/b.out" 2>&1 &
        wait
        local ok=0 out
        for out in a b; do
            msg=$(sed -n 's/^msg=//p' "$BATS_TEST_TMPDIR/$out.out")
            [ "$msg" = QMR_NSF_SUCCESS ] || [ "$msg" = "$(BUSY_LINE)" ]
            [ "$msg" != QMR_NSF_SUCCESS ] || ok=$((ok + 1))
        done
        [ "$ok" -ge 1 ]
        # Every extent the server reports archived has its copy; every copy
        # is its extent's; no temporary file is left.
        extent_states | while read -r name state; do
            [ "$state" = current ] || [ "$state" = archived ]
            cmp "$SERVER/logdir/$name" "$ARCHIVE/$name"
        done
        [ -z "$(leftovers "$ARCHIVE")" ]
    done
}

@test "a restore while an archive runs is refused and the live database left alone" {
    mail_story
    emu server start >/dev/null
    ARCHIVE="$BATS_TEST_TMPDIR/archive"
    cp "$LIVE" "$BATS_TEST_TMPDIR/live-before"
    start_held renameat2 archive_run

    run -1 nsfmend OPT=RESTORE IN="$BACKUP" OUT="$LIVE"
    assert_output_has "$(BUSY_LINE)"
    refute_output_has "Recovering backup file"
    cmp "$LIVE" "$BATS_TEST_TMPDIR/live-before"
    [ "$(db_field "$LIVE" state)" = online ]
    # The agent's restore is refused the same way.
    agent_says "$(BUSY_LINE)" restore "$BACKUP" "$LIVE"

    release_held
    grep -qx 'msg=QMR_NSF_SUCCESS' "$BATS_TEST_TMPDIR/held.out"
    run -0 nsfmend OPT=RESTORE IN="$BACKUP" OUT="$LIVE"
    cmp "$BACKUP" "$LIVE"
}

@test "a lock file that cannot be made or taken stops the run before anything changes" {
    new_server
    cp "$SERVER/notes.ini" "$BATS_TEST_TMPDIR/ini-before"
    mkdir "$SERVER/.nsfmend.lock"
    run -1 media_recovery
    assert_output_has "Fail to lock $SERVER/.nsfmend.lock, Reason="
    cmp "$SERVER/notes.ini" "$BATS_TEST_TMPDIR/ini-before"
    rmdir "$SERVER/.nsfmend.lock"
    ln -s "$BATS_TEST_TMPDIR/elsewhere" "$SERVER/.nsfmend.lock"
    run -1 media_recovery
    assert_output_has "Fail to lock $SERVER/.nsfmend.lock, Reason=Too many levels of symbolic links"
    [ ! -e "$BATS_TEST_TMPDIR/elsewhere" ]
}
