# Shared set-up for the end-to-end tests. Each test gets its own emulated
# server in a fresh temporary directory; nothing is shared between tests.

: "${NSFMEND:?set by CTest}" "${NOTESEMU:?set by CTest}"

# Under bats (sweep_driver.bash loads these helpers too): `run -N cmd` fails
# the test unless cmd exits N, `run ! cmd` unless it fails.
if declare -F bats_require_minimum_version >/dev/null; then
    bats_require_minimum_version 1.5.0
fi

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

# The fault shim (tests/faultshim) stops or fails the k-th file-system call
# of a run, set by FAULTSHIM_* variables in the caller's environment. The
# sanitizer runtime must be the first library of a process, so the tests
# that preload the shim run in the plain builds only.
require_faultshim() {
    [ "${NSFMEND_SANITIZE:-OFF}" != ON ] || skip "the fault shim is preloaded in the plain builds only"
    [ -n "${FAULTSHIM:-}" ] || skip "the fault shim is not built"
}
with_faults() {
    LD_PRELOAD="$FAULTSHIM" "$@"
}

# A run as user 65534 needs root and setpriv (the test is skipped without
# them) and a way in: every folder above BATS_TEST_TMPDIR and above each
# folder given is made searchable by others. AS_NOBODY is then the prefix of
# a command run as that user, with no other groups.
as_nobody() {
    [ "$(id -u)" -eq 0 ] || skip "needs root to run as another user (65534)"
    command -v setpriv >/dev/null || skip "setpriv is needed to drop privileges"
    local dir
    for dir in "$BATS_TEST_TMPDIR" "$@"; do
        while [ "$dir" != / ]; do chmod o+x "$dir"; dir=$(dirname "$dir"); done
    done
    AS_NOBODY=(setpriv --reuid=65534 --regid=65534 --clear-groups)
}

# Tests that read a run's system calls with strace. Under user-mode
# emulation (the i386 build on a kernel without 32-bit support) the tracer
# would see the emulator's own calls instead of the program's, so these are
# skipped there, with the reason.
require_strace() {
    command -v strace >/dev/null || skip "strace is not installed"
    strace -f -o /dev/null true 2>/dev/null || skip "tracing is not permitted here"
    if [ "${NSFMEND_32BIT:-OFF}" = ON ] && "$SOURCE_DIR/scripts/i386-runtime" emulated; then
        skip "a tracer sees the emulator's system calls, not the program's: i386 runs under user-mode emulation here"
    fi
}

# in_order N1 N2 ...: fails, naming the numbers, unless every one is a line
# number found (not empty) and each comes before the next (trace orderings).
in_order() {
    local prev=0 n
    for n in "$@"; do
        if ! [[ $n =~ ^[0-9]+$ ]] || [ "$n" -le "$prev" ]; then
            echo "not in order: $*" >&2
            return 1
        fi
        prev=$n
    done
}

# Changes the byte at offset $2 of file $1 to another value. Writing a fixed
# byte would change nothing one time in 256 where the file holds random
# bytes (a log ID), and a test built on it would fail now and then.
flip_byte() {
    local old
    old=$(dd if="$1" bs=1 skip="$2" count=1 2>/dev/null | od -An -tu1 | tr -d ' ')
    printf "\\$(printf '%03o' $(((${old:-0} + 1) % 256)))" |
        dd of="$1" bs=1 seek="$2" conv=notrunc 2>/dev/null
}

# The hidden files the program's writes leave beside their targets while
# they run (temporary copies, the restore's offline mark), in folder $1.
leftovers() {
    find "$1" -maxdepth 1 -name '.*.nsfmend-*' -printf '%f\n' | sort
}

# Every test fails when a run left a database handle open at NotesTerm: the
# emulator reports each one to this file (outside a test, in setup_file, the
# file is the test file's and nobody reads it).
export NOTESEMU_HANDLE_REPORT="${BATS_TEST_TMPDIR:-${BATS_FILE_TMPDIR:-/tmp}}/handles-left-open"
check_handles_left_open() {
    if [ -s "$NOTESEMU_HANDLE_REPORT" ]; then
        echo "database handles left open at NotesTerm:" >&2
        cat "$NOTESEMU_HANDLE_REPORT" >&2
        return 1
    fi
}
# A test file with a teardown of its own calls check_handles_left_open in it.
teardown() { check_handles_left_open; }
