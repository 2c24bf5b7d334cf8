#!/usr/bin/env bats
# The command-line driver: banner, usage and checklist bytes, argument
# matching, the confirmation prompt, notes.ini resolution, runtime start and
# stop, and the test mode.

load helpers

BANNER='Media Recovery Utility for NSF servers 8.0 or above\n\n'

usage_text() {
    printf '\nUsage: nsfmend "OPT=<option>" "FLAG=<recover option>" "IN=[input file]" "OUT=[restore db]" "DATETIME=[datetime]"\n'
    printf '        RECOVER - Recover a backup file. (Input file REQUIRED)\n'
    printf '        NOTE - Recover a backup file and get note info. (Input file REQUIRED)\n'
    printf '        RESTORE - Restore a database. (Input file & restore database REQUIRED)\n'
    printf '\nrecover option: NEW_DBIID - assign new database instance ID to database recovered.\n'
    printf '                NEW_REPID - assign new replica ID to database recovered.\n'
    printf '\ninput file: - Path to a backup file. (If REQUIRED)\n'
    printf '\nrestore db: - Path to the database to be restored. (If REQUIRED)\n\n'
    printf '\ndate time: - The date time you want to recover the database to in GMT+0. Set them according to the date format. eg. "11/15/2013 13:00". (If REQUIRED)\n\n'
}

checklist_text() {
    printf 'Please make sure that you have done the following:\n'
    printf '1. Reinstall the server on this computer in the same directory\n'
    printf '2. Restore "notes.ini" to the server installation directory\n'
    printf '   (e.g. /local/notesdata)\n'
    printf '3. Restore the server data directory back to the directory defined\n'
    printf '   in "notes.ini" (e.g. /local/notesdata)\n'
    printf '4. Restore all archived transaction logs to the directory defined\n'
    printf '   in "notes.ini" (e.g. /local/notesdata/logdir)\n'
    printf '\nContinue ? (Y) or (N) '
}

# capture N ARGS...: nsfmend with its standard output in $OUT_FILE (standard
# error in err beside it); fails, showing both, unless it exits N.
capture() {
    local want=$1 status=0
    shift
    OUT_FILE="$BATS_TEST_TMPDIR/out"
    "$NSFMEND" "$@" >"$OUT_FILE" 2>"$BATS_TEST_TMPDIR/err" || status=$?
    if [ "$status" -ne "$want" ]; then
        printf 'exit status %s, want %s; output:\n' "$status" "$want" >&2
        cat "$OUT_FILE" "$BATS_TEST_TMPDIR/err" >&2
        return 1
    fi
}

expect_bytes() {  # expect_bytes FILE: compares $OUT_FILE with FILE byte for byte
    if ! cmp -s "$1" "$OUT_FILE"; then
        diff <(od -c "$1") <(od -c "$OUT_FILE") | head -20
        return 1
    fi
}

@test "bad arguments print the banner and usage and start nothing" {
    new_server
    { printf "$BANNER"; usage_text; } >"$BATS_TEST_TMPDIR/want"
    for args in "opt=RECOVER" "OPT" "-h" "--help" "IN=/a OUT=/b in=/c" "TEST=x -v" "Opt=NOTE" \
                "--version TEST=x" "TEST=x --version" "--version --version" "--version=1" "-version" \
                "--Version"; do
        # shellcheck disable=SC2086
        capture 0 $args </dev/null
        expect_bytes "$BATS_TEST_TMPDIR/want"
    done
}

@test "--version on its own prints the project's version and starts nothing" {
    new_server
    local version
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD_DIR/CMakeCache.txt")
    [ -n "$version" ]
    capture 0 --version </dev/null
    printf 'nsfmend %s\n' "$version" >"$BATS_TEST_TMPDIR/want"
    expect_bytes "$BATS_TEST_TMPDIR/want"
    [ ! -s "$BATS_TEST_TMPDIR/err" ]
}

@test "the checklist: end of input, a closed input or an answer not beginning with Y or y ends the run before the runtime starts" {
    new_server
    cp "$SERVER/notes.ini" "$BATS_TEST_TMPDIR/ini.before"
    { printf "$BANNER"; checklist_text; printf '\n'; } >"$BATS_TEST_TMPDIR/want"
    # The program name alone shows it too.
    capture 0 </dev/null
    expect_bytes "$BATS_TEST_TMPDIR/want"
    capture 0 <&-
    expect_bytes "$BATS_TEST_TMPDIR/want"
    for answer in n N "" " y" "no" "x"; do
        capture 0 OPT=RECOVER IN=/some/backup.nsf <<<"$answer"
        expect_bytes "$BATS_TEST_TMPDIR/want"
    done
    cmp "$SERVER/notes.ini" "$BATS_TEST_TMPDIR/ini.before"
    [ -e "$SERVER/logdir/nlogctrl.lfh" ]
}

@test "answers beginning with Y or y proceed to the media recovery" {
    for answer in y Y yes Yes; do
        rm -rf "$BATS_TEST_TMPDIR/notesdata"
        new_server
        capture 0 <<<"$answer"
        grep -qxF "Initialize with file: $SERVER/notes.ini..." "$OUT_FILE"
        grep -qxF "Update $SERVER/notes.ini with TRANSLOG_Recreate_Logctrl=1" "$OUT_FILE"
    done
}

@test "the prompt is visible before the answer is read from a pipe" {
    new_server
    mkfifo "$BATS_TEST_TMPDIR/answer"
    "$NSFMEND" <"$BATS_TEST_TMPDIR/answer" >"$BATS_TEST_TMPDIR/out" &
    pid=$!
    exec {writer}>"$BATS_TEST_TMPDIR/answer"
    seen=no
    for _ in $(seq 1200); do
        if grep -qF 'Continue ? (Y) or (N) ' "$BATS_TEST_TMPDIR/out"; then seen=yes; break; fi
        sleep 0.05
    done
    echo n >&"$writer"
    exec {writer}>&-
    wait "$pid"
    [ "$seen" = yes ]
}

@test "test mode prints its text and stops the runtime; it wins over IN= and OUT= and shows no checklist" {
    new_server
    printf "${BANNER}Initialize with file: %s/notes.ini...\nInitialization completed successfully\nall good\n\n\nTerminate...\nTermination completed successfully\n" \
        "$SERVER" >"$BATS_TEST_TMPDIR/want"
    capture 0 TEST=all\ good </dev/null
    expect_bytes "$BATS_TEST_TMPDIR/want"
    capture 0 IN=/x/backup.nsf OUT=/x/live.nsf TEST=all\ good </dev/null
    expect_bytes "$BATS_TEST_TMPDIR/want"
}

@test "test mode failure reports the API text and exits 1 after stopping" {
    new_server
    rm "$SERVER/names.nsf"
    capture 1 TEST=ok </dev/null
    grep -q '^Test fails, error=.\+' "$OUT_FILE"
    run ! grep -qx ok "$OUT_FILE"
    tail -n 1 "$OUT_FILE" | grep -qx 'Termination completed successfully'
}

@test "INI= names the notes.ini; an empty INI= falls back to NOTES_DATA_DIR, one slash after it, or notes.ini relative when unset" {
    new_server
    export NOTES_DATA_DIR="$BATS_TEST_TMPDIR/no-such-dir"
    capture 0 TEST=ok "INI=$SERVER/notes.ini" </dev/null
    grep -qxF "Initialize with file: $SERVER/notes.ini..." "$OUT_FILE"
    grep -qx ok "$OUT_FILE"

    capture 1 TEST=ok "INI=$SERVER/notes.ini" INI= </dev/null
    grep -qxF "Initialize with file: $NOTES_DATA_DIR/notes.ini..." "$OUT_FILE"

    export NOTES_DATA_DIR="$SERVER/"
    capture 0 TEST=ok </dev/null
    grep -qxF "Initialize with file: $SERVER/notes.ini..." "$OUT_FILE"

    unset NOTES_DATA_DIR
    cd "$SERVER"
    capture 0 TEST=ok </dev/null
    grep -qxF "Initialize with file: notes.ini..." "$OUT_FILE"
}

@test "a runtime that cannot start ends the run with 1 and no stop" {
    new_server
    export NOTES_DATA_DIR="$BATS_TEST_TMPDIR/empty"
    mkdir "$NOTES_DATA_DIR"
    capture 1 TEST=ok </dev/null
    tail -n 1 "$OUT_FILE" | grep -qx 'InitNotes failed. Error Code = [1-9][0-9]*'
    run ! grep -q Terminate "$OUT_FILE"
}

@test "a NOTES_DATA_DIR of 1024 characters or more is refused before the runtime starts" {
    new_server
    long="/$(printf 'd%.0s' $(seq 1023))"
    # 1023 characters fit the field, but not with /notes.ini after them
    for case in "$long|NOTES_DATA_DIR is too long" "${long:0:1023}|notes.ini path is too long"; do
        NOTES_DATA_DIR="${case%|*}" capture 1 TEST=ok </dev/null
        grep -q "${case#*|}" "$OUT_FILE"
        run ! grep -q Initialize "$OUT_FILE"
    done
}

@test "a long PATH is harmless" {
    new_server
    PATH="$PATH:$(printf '/x%.0s' $(seq 5000))" capture 0 TEST=ok </dev/null
}

@test "a repeated option keeps the last value; an empty one clears it" {
    new_server
    # IN= cleared by the second, empty IN=, and RECOVER with IN= alone: the
    # media recovery's checklist shows.
    for args in "OPT=RECOVER IN=/x/a.nsf OUT=/x/b.nsf IN=" "OPT=RECOVER IN=/x/a.nsf"; do
        # shellcheck disable=SC2086
        capture 0 $args </dev/null
        grep -q 'Continue ? (Y) or (N)' "$OUT_FILE"
    done
}

@test "a value of 1024 characters or more is refused before anything happens" {
    new_server
    local value
    value=/$(printf 'a%.0s' $(seq 1023))
    for key in OPT FLAG IN OUT DATETIME INI TEST OUTPUT WARN CRIT; do
        # An over-long OUT= must not turn a restore into a media recovery.
        capture 1 OPT=RESTORE IN=/x/a.nsf OUT=/x/b.nsf "$key=$value" </dev/null
        { printf "$BANNER"; printf 'The value of %s= is too long (at most 1023 characters)\n' "$key"; } \
            >"$BATS_TEST_TMPDIR/want"
        cmp "$BATS_TEST_TMPDIR/want" "$OUT_FILE"
    done
    # 1023 characters still fit.
    capture 0 TEST="${value:1}" </dev/null
    grep -qx "${value:1}" "$OUT_FILE"
}

@test "an OUTPUT=, WARN= or CRIT= value that means nothing is refused before anything happens" {
    new_server
    local case arg
    for case in "OUTPUT=xml|OUTPUT= must be text, json or nagios: xml" \
                "OUTPUT=JSON|OUTPUT= must be text, json or nagios: JSON" \
                "WARN=-1|WARN= must be a whole number of seconds: -1" \
                "WARN=1h|WARN= must be a whole number of seconds: 1h" \
                "CRIT=1e3|CRIT= must be a whole number of seconds: 1e3" \
                "CRIT=1234567890123456789|CRIT= must be a whole number of seconds: 1234567890123456789"; do
        arg=${case%%|*}
        capture 1 OPT=VERIFY IN=/x "$arg" </dev/null
        { printf "$BANNER"; printf 'The value of %s\n' "${case#*|}"; } >"$BATS_TEST_TMPDIR/want"
        expect_bytes "$BATS_TEST_TMPDIR/want"
    done
    # The text form by name, empty values and the largest number: the run goes on.
    capture 0 TEST=ok OUTPUT=text WARN= CRIT=999999999999999999 </dev/null
    grep -qx ok "$OUT_FILE"
}

@test "test mode leaves no database handle open, whether the open or the close fails" {
    new_server
    NOTESEMU_FAIL="NSFDbClose=4021" capture 0 TEST=ok </dev/null
    grep -qx ok "$OUT_FILE"
    NOTESEMU_FAIL="NSFDbOpen=4022" capture 1 TEST=ok </dev/null
    grep -qx 'Test fails, error=error_code=4022' "$OUT_FILE"
    [ ! -s "$NOTESEMU_HANDLE_REPORT" ]
}
