#!/usr/bin/env bats
# The media-recovery mode's reset of the log control state, and where it
# stops the run before any database is recovered.

load helpers

# confirm_run N COMMAND...: the command (nsfmend, as some user) with the
# answer Y, its output in $OUT_FILE; fails, showing it, unless it exits N.
confirm_run() {
    local want=$1 status=0
    shift
    OUT_FILE="$BATS_TEST_TMPDIR/out"
    "$@" <<<Y >"$OUT_FILE" 2>&1 || status=$?
    [ "$status" -eq "$want" ] || { echo "exit status $status, want $want" >&2; cat "$OUT_FILE" >&2; return 1; }
}

@test "the reset edits notes.ini, deletes the log control file, then recovers" {
    new_server
    printf 'translog_recreate_logctrl=0\n' >>"$SERVER/notes.ini"
    [ -e "$SERVER/logdir/nlogctrl.lfh" ]
    confirm_run 0 "$NSFMEND"
    grep -qxF "Update $SERVER/notes.ini with TRANSLOG_Recreate_Logctrl=1" "$OUT_FILE"
    grep -qxF "Delete log control file $SERVER/logdir/nlogctrl.lfh" "$OUT_FILE"
    grep -qxF "Running media recovery ..." "$OUT_FILE"
    grep -qx 'TRANSLOG_Recreate_Logctrl=1' "$SERVER/notes.ini"
    run ! grep -q 'translog_recreate_logctrl=0' "$SERVER/notes.ini"
    # the lines come in this order
    [ "$(grep -n '^Update ' "$OUT_FILE" | cut -d: -f1)" -lt "$(grep -n '^Delete log control' "$OUT_FILE" | cut -d: -f1)" ]
    [ "$(grep -n '^Delete log control' "$OUT_FILE" | cut -d: -f1)" -lt "$(grep -n '^Running media' "$OUT_FILE" | cut -d: -f1)" ]
}

@test "a missing TRANSLOG_Path stops the run before the recovery" {
    new_server
    grep -v '^TRANSLOG_Path=' "$SERVER/notes.ini" >"$BATS_TEST_TMPDIR/ini"
    cp "$BATS_TEST_TMPDIR/ini" "$SERVER/notes.ini"
    confirm_run 1 "$NSFMEND"
    grep -qxF "Fail to get transaction log directory" "$OUT_FILE"
    run ! grep -q "Running media recovery" "$OUT_FILE"
    [ -e "$SERVER/logdir/nlogctrl.lfh" ]
    tail -n 1 "$OUT_FILE" | grep -qx 'Termination completed successfully'
}

@test "a notes.ini that cannot be rewritten stops the run with nothing deleted" {
    new_server
    command -v setpriv >/dev/null || skip "setpriv is needed to drop privileges"
    cp "$SERVER/notes.ini" "$BATS_TEST_TMPDIR/ini.before"
    # The runtime may read notes.ini, but this user may not write it; the
    # folder is writable (the run lock lives there), which must not let a
    # new file take notes.ini's place behind its owner's back.
    chmod 0644 "$SERVER/notes.ini"
    chmod -R a+rwX "$SERVER/logdir" "$SERVER/names.nsf"
    chmod a+rwx "$SERVER"
    # the other user must be able to reach the folder
    dir="$BATS_TEST_TMPDIR"
    while [ "$dir" != / ]; do chmod o+x "$dir"; dir=$(dirname "$dir"); done
    if [ "$(id -u)" -eq 0 ]; then
        run_as=(setpriv --reuid=65534 --regid=65534 --clear-groups "$NSFMEND")
    else
        chmod 0444 "$SERVER/notes.ini"
        run_as=("$NSFMEND")
    fi
    confirm_run 1 "${run_as[@]}"
    grep -qxF "Fail to edit $SERVER/notes.ini" "$OUT_FILE"
    run ! grep -q "Delete log control file" "$OUT_FILE"
    run ! grep -q "Running media recovery" "$OUT_FILE"
    cmp "$SERVER/notes.ini" "$BATS_TEST_TMPDIR/ini.before"
    [ "$(stat -c %U "$SERVER/notes.ini")" == "$(id -un)" ]
    [ -z "$(leftovers "$SERVER")" ]
    [ -e "$SERVER/logdir/nlogctrl.lfh" ]
}
