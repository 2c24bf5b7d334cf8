# Shared set-up for the end-to-end tests. Each test gets its own emulated
# server in a fresh temporary directory; nothing is shared between tests.

: "${NSFMEND:?set by CTest}" "${NOTESEMU:?set by CTest}"

# A new data directory with notes.ini, the log directory and names.nsf.
# Sets SERVER (the data directory) and exports NOTES_DATA_DIR to it.
new_server() {
    SERVER="$BATS_TEST_TMPDIR/notesdata"
    "$NOTESEMU" init "$SERVER" "$@" >/dev/null
    export NOTES_DATA_DIR="$SERVER"
}

# nsfmend with no standard input unless the caller redirects it.
nsfmend() {
    "$NSFMEND" "$@"
}

# Every test fails when a run left a database handle open at NotesTerm: the
# emulator reports each one to this file (outside a test, in setup_file, the
# file is the test file's and nobody reads it).
export NOTESEMU_HANDLE_REPORT="${BATS_TEST_TMPDIR:-${BATS_FILE_TMPDIR:-/tmp}}/handles-left-open"
teardown() {
    if [ -s "$NOTESEMU_HANDLE_REPORT" ]; then
        echo "database handles left open at NotesTerm:" >&2
        cat "$NOTESEMU_HANDLE_REPORT" >&2
        return 1
    fi
}
