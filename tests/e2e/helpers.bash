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
