# The backup-agent tests drive libnsfmend.so through a small C program that is
# built the way an outside agent would build it: from the installed prefix
# only (header, pkg-config file, library) plus the platform's header and
# libnotes.so.

: "${BUILD_DIR:?set by CTest}" "${SOURCE_DIR:?set by CTest}" "${LIBNOTES_DIR:?set by CTest}"

# Compiles the C client to OUT against the nsfmend that PKG_CONFIG_PATH finds,
# the platform's header alone (apart from our source tree) and the
# libnotes.so in LIBNOTES_FOLDER, for this build's architecture.
agent_compile_client() {
    local out=$1 libnotes_folder=$2 platform
    platform="$(dirname "$out")/platform"
    mkdir -p "$platform"
    cp "$SOURCE_DIR/src/notesapi/notesapi.h" "$platform/"
    local flags=()
    [ "${NSFMEND_32BIT:-OFF}" = ON ] && flags+=(-m32)
    # A sanitized library needs the sanitizer runtime first in the program.
    grep -qs '^NSFMEND_SANITIZE:BOOL=ON' "$BUILD_DIR/CMakeCache.txt" &&
        flags+=(-fsanitize=address,undefined -fno-omit-frame-pointer)
    # shellcheck disable=SC2046
    cc -std=c11 -Wall -Wextra -Werror "${flags[@]}" $(pkg-config --cflags nsfmend) \
        -I"$platform" "$SOURCE_DIR/tests/agent_c/agent_client.c" \
        -o "$out" $(pkg-config --libs nsfmend) -L"$libnotes_folder" -lnotes
}

# Installs this build into a staging folder (DESTDIR, as a package build
# does) and compiles the client from there, the pkg-config file's absolute
# paths taken relative to the stage. Call from setup_file. Sets AGENT_STAGE,
# AGENT_PREFIX (the configured prefix inside the stage), AGENT_LIBDIR and
# AGENT_CLIENT, and exports the pkg-config settings that find the stage.
agent_build_client() {
    [ -n "${LIBNSFMEND_DIR:-}" ] || { echo "libnsfmend.so is not built" >&2; return 1; }
    export AGENT_STAGE="$BATS_FILE_TMPDIR/stage"
    DESTDIR="$AGENT_STAGE" cmake --install "$BUILD_DIR" >/dev/null || return 1
    local pcfile
    pcfile=$(find "$AGENT_STAGE" -name nsfmend.pc | head -n 1)
    [ -n "$pcfile" ] || { echo "nsfmend.pc was not installed" >&2; return 1; }
    export PKG_CONFIG_LIBDIR PKG_CONFIG_SYSROOT_DIR="$AGENT_STAGE"
    PKG_CONFIG_LIBDIR=$(dirname "$pcfile")
    export AGENT_PREFIX AGENT_LIBDIR
    AGENT_PREFIX="$AGENT_STAGE$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$BUILD_DIR/CMakeCache.txt")"
    AGENT_LIBDIR=$(pkg-config --variable=libdir nsfmend) || return 1

    export AGENT_CLIENT="$BATS_FILE_TMPDIR/agent_client"
    agent_compile_client "$AGENT_CLIENT" "$LIBNOTES_DIR"
}

# Every file that loads these helpers builds the client once; a file with a
# setup_file of its own calls agent_build_client in it.
setup_file() { agent_build_client; }

# Runs the client against the installed library and the emulator.
agent() {
    LD_LIBRARY_PATH="$AGENT_LIBDIR:$LIBNOTES_DIR" "$AGENT_CLIENT" "$@"
}

# agent_says MSG ARGS...: a call of the client that must answer msg=MSG;
# its output is in $output, as after run (and shown when the test fails).
agent_says() {
    local want=$1
    shift
    run agent "$@"
    [ "$(field msg)" = "$want" ]
}
agent_ok() { agent_says QMR_NSF_SUCCESS "$@"; }
# agent_answers RESULT MSG ARGS...: as agent_says, and the call's result=
# (the archiving calls' return value) must be RESULT.
agent_answers() {
    local result=$1
    shift
    agent_says "$@" && [ "$(field result)" = "$result" ]
}

# The value of "key=" in $output (first match).
field() {
    printf '%s\n' "$output" | sed -n "s/^$1=//p" | head -n 1
}

# The extents of the emulated server, one "name state" a line.
extent_states() {
    "$NOTESEMU" logs | awk -F'\t' '{print $1, $3}'
}

# Writes N changes to a new logged database DB (name relative to the data
# directory), enough to fill extents at the emulator's small extent size.
write_changes() {
    local db=$1 count=$2 i
    "$NOTESEMU" create "$db" >/dev/null 2>&1 || true
    for ((i = 1; i <= count; i++)); do
        "$NOTESEMU" put "$db" "$i" "text $i" >/dev/null
    done
}

# The archive records of folder DIR, oldest first, one name a line.
archive_records() {
    (cd "$1" 2>/dev/null && ls -A) | grep -E '^nsfmend-archive-[0-9]{8}T[0-9]{6}Z\.sha256$' || true
}

# Every entry of folder DIR but its archive records (hidden ones too).
archived_files() {
    (cd "$1" 2>/dev/null && ls -A) | grep -vE '^nsfmend-archive-[0-9]{8}T[0-9]{6}Z\.sha256$' || true
}

# The checksum lines in force in DIR's records: of the lines for one name,
# the latest record's. Names as the tests make them, without escapes.
records_in_force() {
    local dir=$1 record
    for record in $(archive_records "$dir"); do cat "$dir/$record"; done |
        awk '!/^#/ { name = substr($0, 67); if (!(name in line)) order[n++] = name; line[name] = $0 }
             END { for (i = 0; i < n; i++) print line[order[i]] }'
}

# sha256sum's own check of DIR against the lines in force; its output.
check_records() {
    records_in_force "$1" | (cd "$1" && sha256sum -c --strict -)
}

# Two archiving runs into $ARCHIVE with changes between them, under the
# suffixes $1 and $2: the second completes the extent the first captured
# half-filled.
two_archive_runs() {
    write_changes mail.nsf 11
    agent_ok spool "$ARCHIVE" "${1:-}"
    write_changes mail.nsf 20 >/dev/null
    agent_ok spool "$ARCHIVE" "${2:-}"
}
