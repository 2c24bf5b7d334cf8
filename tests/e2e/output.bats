#!/usr/bin/env bats
# Standard output as a log: every line out as soon as it is written, a log
# that could not be written fails the run, and progress only on a terminal.

load helpers
load recovery_helpers

@test "each line reaches a redirected output while the run is still going" {
    new_server
    # The runtime blocks reading a notes.ini that is a FIFO until we feed it.
    mkfifo "$BATS_TEST_TMPDIR/notes.ini"
    nsfmend TEST=ok INI="$BATS_TEST_TMPDIR/notes.ini" >"$BATS_TEST_TMPDIR/out" &
    local pid=$! i
    for i in $(seq 600); do
        grep -q 'Initialize with file' "$BATS_TEST_TMPDIR/out" && break
        sleep 0.1
    done
    run cat "$BATS_TEST_TMPDIR/out"
    cat "$SERVER/notes.ini" >"$BATS_TEST_TMPDIR/notes.ini"
    wait "$pid"
    assert_output_has "Initialize with file: $BATS_TEST_TMPDIR/notes.ini..."
    [ "$(tail -n 1 "$BATS_TEST_TMPDIR/out")" = "Termination completed successfully" ]
}

@test "output that cannot be written fails the run: a full disk, a closed pipe" {
    new_server
    run -1 --separate-stderr bash -c '"$0" TEST=ok </dev/null >/dev/full' "$NSFMEND"
    [ "$stderr" = "nsfmend: cannot write standard output: No space left on device" ]
    # A reader gone before the first line: the run is not killed halfway by
    # SIGPIPE, it ends with 1.
    run -1 --separate-stderr perl -e 'pipe(R, W) or die; close R; open STDOUT, ">&W" or die; exec @ARGV' \
        "$NSFMEND" TEST=ok
    [ "$stderr" = "nsfmend: cannot write standard output: Broken pipe" ]
    # Declining the checklist is a 0, but not when nobody could read it.
    run -1 bash -c 'echo N | "$0" >/dev/full' "$NSFMEND"
    # A check that holds, whose document or monitoring line is lost: 1, UNKNOWN.
    local form
    for form in json:1 nagios:3; do
        run "-${form#*:}" --separate-stderr bash -c '"$0" OPT=CHECK OUTPUT="$1" </dev/null >/dev/full' \
            "$NSFMEND" "${form%:*}"
        [[ $stderr == *"nsfmend: cannot write standard output: No space left on device"* ]]
    done
}

# Runs nsfmend with standard error on a terminal (script gives it one),
# standard input from the file $1 and standard output in $BATS_TEST_TMPDIR/out;
# the terminal's bytes land in $BATS_TEST_TMPDIR/tty.
on_terminal() {
    local input=$1 cmd
    shift
    printf -v cmd '%q ' "$NSFMEND" "$@"
    script -qefc "$cmd <$input >$BATS_TEST_TMPDIR/out" "$BATS_TEST_TMPDIR/tty" </dev/null >/dev/null
}

@test "the sweep shows database k of N on a terminal, and nothing when standard error is not one" {
    mail_story
    emu create second.nsf >/dev/null
    printf 'Y\n' >"$BATS_TEST_TMPDIR/yes"
    on_terminal "$BATS_TEST_TMPDIR/yes"
    run cat "$BATS_TEST_TMPDIR/tty"
    assert_output_has "database 1 of 3: $SERVER/mail.nsf"
    assert_output_has "database 3 of 3: $SERVER/second.nsf"
    # Standard output holds the run's own lines and no progress.
    run cat "$BATS_TEST_TMPDIR/out"
    refute_output_has "database 1 of 3"

    rm -rf "$SERVER"
    mail_story
    run -0 --separate-stderr nsfmend <<<"Y"
    [ -z "$stderr" ]
}

@test "the restore copy shows its percentage, rate and time left on a terminal only" {
    mail_story
    emu server start >/dev/null
    on_terminal /dev/null OPT=RESTORE IN="$BACKUP" OUT="$LIVE"
    run cat "$BATS_TEST_TMPDIR/tty"
    [[ $output =~ 100%\ +[0-9.]+\ [KMG]?i?B\ of\ [0-9.]+\ [KMG]?i?B\ +[0-9.]+\ [KMG]?i?B/s\ +[0-9]+:[0-9]{2}\ left ]]
    # The line is cleared again before the run's next line.
    assert_output_has $'\r\033[K'
    run cat "$BATS_TEST_TMPDIR/out"
    refute_output_has "%"
    assert_output_has " Bringing database $LIVE online ..."

    run -0 --separate-stderr nsfmend OPT=RESTORE IN="$BACKUP" OUT="$LIVE"
    [ -z "$stderr" ]
}
