#!/usr/bin/env bats
# The .deb packages of this build as a server administrator and an agent
# developer get them: made by cpack, unpacked into scratch roots with dpkg -x,
# and the unpacked program run against the unpacked emulator.

bats_require_minimum_version 1.5.0

load helpers
load recovery_helpers
load agent_helpers

setup_file() {
    cache() { sed -n "s/^$1:[A-Z]*=//p" "$BUILD_DIR/CMakeCache.txt"; }
    export LIBDIR STATIC_RUNTIME DEB_ARCH
    LIBDIR=$(cache CMAKE_INSTALL_LIBDIR)
    STATIC_RUNTIME=$(cache NSFMEND_STATIC_CXX_RUNTIME)
    if [ "${NSFMEND_32BIT:-OFF}" = ON ]; then DEB_ARCH=i386; else DEB_ARCH=amd64; fi

    export PKGS="$BATS_FILE_TMPDIR/packages"
    "$(cache CMAKE_CPACK_COMMAND)" -G DEB --config "$BUILD_DIR/CPackConfig.cmake" -B "$PKGS" >"$BATS_FILE_TMPDIR/cpack.log" 2>&1 ||
        { cat "$BATS_FILE_TMPDIR/cpack.log" >&2; return 1; }
    export PROGRAM_DEB="$PKGS/nsfmend_0.1.0_${DEB_ARCH}.deb"
    export EMULATOR_DEB="$PKGS/nsfmend-emulator_0.1.0_${DEB_ARCH}.deb"
    export PROGRAM_ROOT="$BATS_FILE_TMPDIR/root-program"
    export EMULATOR_ROOT="$BATS_FILE_TMPDIR/root-emulator"
    dpkg-deb -x "$PROGRAM_DEB" "$PROGRAM_ROOT"
    dpkg-deb -x "$EMULATOR_DEB" "$EMULATOR_ROOT"
    export EMULATOR_LIBDIR="$EMULATOR_ROOT/usr/$LIBDIR/nsfmend-emulator"
}

# The files (not folders) a package holds, one path a line, sorted.
deb_files() {
    dpkg-deb --fsys-tarfile "$1" | tar -t | grep -v '/$' | sed 's|^\./||' | sort
}

# Every ELF file under a root.
elf_files() {
    find "$1" -type f -exec sh -c 'head -c 4 "$1" | grep -q "^.ELF" && echo "$1"' _ {} \;
}

# The newest GLIBC_ symbol version any of the given ELF files uses.
newest_glibc() {
    objdump -T "$@" | grep -oE 'GLIBC_[0-9]+(\.[0-9]+)+' | sed 's/GLIBC_//' | sort -uV | tail -n 1
}

# Fails unless the Depends entries given ("a, b, ...") are exactly the shared
# C++ runtime, plus the sanitizer runtimes in a sanitizer build.
runtime_only() {
    local entry allowed='libstdc\+\+6 \(>= [0-9.]+\)|libgcc-s1'
    grep -q '^NSFMEND_SANITIZE:BOOL=ON' "$BUILD_DIR/CMakeCache.txt" && allowed+='|libasan[0-9]+|libubsan[0-9]+'
    [[ $1 == *"libstdc++6 (>= "* && $1 == *libgcc-s1* ]] || { echo "no C++ runtime in: $1"; return 1; }
    while IFS= read -r entry; do
        [[ $entry =~ ^($allowed)$ ]] || { echo "unexpected dependency: $entry"; return 1; }
    done < <(printf '%s\n' "$1" | sed 's/, /\n/g')
}

@test "cpack makes the program and emulator packages for this build's architecture" {
    ls "$PKGS"/*.deb
    [ "$(find "$PKGS" -maxdepth 1 -name '*.deb' | wc -l)" -eq 2 ]
    [ "$(dpkg-deb -f "$PROGRAM_DEB" Package Architecture)" = "Package: nsfmend
Architecture: $DEB_ARCH" ]
    [ "$(dpkg-deb -f "$EMULATOR_DEB" Package Architecture)" = "Package: nsfmend-emulator
Architecture: $DEB_ARCH" ]
    if [ "$DEB_ARCH" = i386 ]; then class=ELF32; else class=ELF64; fi
    for f in $(elf_files "$PROGRAM_ROOT") $(elf_files "$EMULATOR_ROOT"); do
        readelf -h "$f" | grep -q "Class:.*$class" || { echo "$f is not $class"; false; }
    done
}

@test "each package holds exactly its files, and the program's holds no libnotes.so" {
    run deb_files "$PROGRAM_DEB"
    [ "$output" = "usr/bin/nsfmend
usr/include/nsfmend/agent.h
usr/$LIBDIR/libnsfmend.so
usr/$LIBDIR/pkgconfig/nsfmend.pc
usr/share/doc/nsfmend/README.md
usr/share/man/man1/nsfmend.1" ]
    run deb_files "$EMULATOR_DEB"
    [ "$output" = "usr/bin/notesemu
usr/$LIBDIR/nsfmend-emulator/libnotes.so
usr/share/doc/nsfmend-emulator/emulator-runtime.md
usr/share/doc/nsfmend-emulator/emulator.md" ]
    [ -x "$PROGRAM_ROOT/usr/bin/nsfmend" ] && [ -x "$EMULATOR_ROOT/usr/bin/notesemu" ]
}

@test "Depends is the measured C/C++ runtime only, never libnotes" {
    local glibc want
    # shellcheck disable=SC2046
    glibc=$(newest_glibc $(elf_files "$PROGRAM_ROOT"))
    run dpkg-deb -f "$PROGRAM_DEB" Depends
    if [ "$STATIC_RUNTIME" = ON ]; then
        [ "$output" = "libc6 (>= $glibc)" ]
    else
        [[ $output == "libc6 (>= $glibc), "* ]]
        runtime_only "${output#*, }"
    fi
    # shellcheck disable=SC2046
    glibc=$(newest_glibc $(elf_files "$EMULATOR_ROOT"))
    run dpkg-deb -f "$EMULATOR_DEB" Depends
    [[ $output == "libc6 (>= $glibc)"* ]]
    run ! bash -c "dpkg-deb -f '$PROGRAM_DEB' Depends Recommends Suggests Pre-Depends | grep -i notes"
}

@test "installed binaries carry no RUNPATH: nsfmend needs the loader to find libnotes.so" {
    for f in $(elf_files "$PROGRAM_ROOT") $(elf_files "$EMULATOR_ROOT"); do
        ! readelf -d "$f" | grep -E 'R(UN)?PATH' || { echo "$f has a search path"; false; }
    done
    readelf -d "$PROGRAM_ROOT/usr/bin/nsfmend" | grep -q 'NEEDED.*\[libnotes\.so\]'
    if [ "$STATIC_RUNTIME" = ON ]; then
        run ! grep -E 'NEEDED.*(libstdc\+\+|libgcc_s)' < <(readelf -d "$PROGRAM_ROOT/usr/bin/nsfmend" \
            "$PROGRAM_ROOT/usr/$LIBDIR/libnsfmend.so")
    fi
    # notesemu holds the emulator itself and needs no library search at all.
    run ! grep 'NEEDED.*libnotes' < <(readelf -d "$EMULATOR_ROOT/usr/bin/notesemu")

    run -127 env -u LD_LIBRARY_PATH "$PROGRAM_ROOT/usr/bin/nsfmend" TEST=ok
    [ "$status" -eq 127 ]
    [[ $output == *"libnotes.so: cannot open shared object file"* ]]
}

@test "the installed program runs test mode and a recovery against the installed emulator" {
    export NSFMEND="$PROGRAM_ROOT/usr/bin/nsfmend" NOTESEMU="$EMULATOR_ROOT/usr/bin/notesemu"
    export LD_LIBRARY_PATH="$EMULATOR_LIBDIR"
    mail_story

    run nsfmend TEST="installed OK" </dev/null
    [ "$status" -eq 0 ]
    assert_output_has $'\ninstalled OK\n'
    assert_output_has "Initialize with file: $SERVER/notes.ini..."

    cp "$LIVE" "$BATS_TEST_TMPDIR/live-before"
    run nsfmend OPT=RECOVER IN="$BACKUP" OUT="$LIVE" </dev/null
    [ "$status" -eq 0 ]
    assert_output_has " Recover $BACKUP till latest transaction"
    [ "$(db_notes "$BACKUP")" == "$LATEST" ]
    cmp "$LIVE" "$BATS_TEST_TMPDIR/live-before"
}

@test "the packaged agent library exports exactly the six operations" {
    run bash -c "nm -D --defined-only '$PROGRAM_ROOT/usr/$LIBDIR/libnsfmend.so' | awk '{print \$NF}' | sort"
    [ "$output" = "DoArchiveLogs
archiveHalfFilledLogs
getTransLogStyle
recoverNsfDB
restoreNsfDB
spoolNsfArchiveLogs" ]
}

@test "an agent builds from the unpacked package alone and reaches the emulator" {
    export PKG_CONFIG_PATH="$PROGRAM_ROOT/usr/$LIBDIR/pkgconfig"
    [ "$(realpath "$(pkg-config --variable=includedir nsfmend)")" = "$(realpath "$PROGRAM_ROOT/usr/include")" ]
    agent_compile_client "$BATS_TEST_TMPDIR/agent_client" "$EMULATOR_LIBDIR"
    export NOTESEMU="$EMULATOR_ROOT/usr/bin/notesemu"
    new_server
    run env LD_LIBRARY_PATH="$(pkg-config --variable=libdir nsfmend):$EMULATOR_LIBDIR" \
        "$BATS_TEST_TMPDIR/agent_client" style
    [ "$status" -eq 0 ]
    [ "$output" = "msg=QMR_NSF_TRANSLOG_STYLE_ARCHIVE" ]
}

@test "the installed man page formats cleanly with man -l and groff -ww" {
    local page="$PROGRAM_ROOT/usr/share/man/man1/nsfmend.1"
    MANPAGER=cat MANWIDTH=80 man --warnings -l "$page" >"$BATS_TEST_TMPDIR/man.out" 2>"$BATS_TEST_TMPDIR/man.err"
    [ ! -s "$BATS_TEST_TMPDIR/man.err" ] || { cat "$BATS_TEST_TMPDIR/man.err"; false; }
    grep -q '^NAME' "$BATS_TEST_TMPDIR/man.out"
    grep -q "nsfmend TEST=text \\[INI=path\\]" "$BATS_TEST_TMPDIR/man.out"
    groff -man -Tutf8 -ww "$page" >/dev/null 2>"$BATS_TEST_TMPDIR/groff.err"
    [ ! -s "$BATS_TEST_TMPDIR/groff.err" ] || { cat "$BATS_TEST_TMPDIR/groff.err"; false; }
}
