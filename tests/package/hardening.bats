#!/usr/bin/env bats
# The hardening of every ELF file the packages ship, read back from the
# binaries themselves (readelf), in both architectures, and the absence of
# any library search path of their own.

bats_require_minimum_version 1.5.0

load package_helpers

# Every ELF file of every package of both architectures.
shipped_elf_files() {
    local arch package
    for arch in "${ARCHES[@]}"; do
        for package in "${ALL_PACKAGES[@]}"; do
            elf_files "$(unpacked "$package" "$arch")"
        done
    done
}

setup_file() {
    shipped_elf_files >"$BATS_FILE_TMPDIR/elf"
    # Two programs and two libraries in each architecture.
    [ "$(wc -l <"$BATS_FILE_TMPDIR/elf")" -eq 8 ]
}

@test "full RELRO: a read-only-after-relocation segment and immediate binding in every binary" {
    local f
    while read -r f; do
        readelf -lW "$f" | grep -q '^ *GNU_RELRO ' || { echo "$f: no GNU_RELRO"; false; }
        readelf -dW "$f" | grep -Eq '\(FLAGS\) +.*BIND_NOW|\(FLAGS_1\) +Flags:.* NOW' ||
            { echo "$f: no BIND_NOW"; false; }
    done <"$BATS_FILE_TMPDIR/elf"
}

@test "the programs are position-independent executables" {
    local f
    for f in $(grep '/usr/bin/' "$BATS_FILE_TMPDIR/elf"); do
        readelf -hW "$f" | grep -q 'Type: *DYN ' || { echo "$f is not PIE"; false; }
        readelf -dW "$f" | grep -Eq '\(FLAGS_1\) +Flags:.* PIE' || { echo "$f: no PIE flag"; false; }
    done
    [ "$(grep -c '/usr/bin/' "$BATS_FILE_TMPDIR/elf")" -eq 4 ]
}

@test "stack protector and fortified libc calls in every binary" {
    local f syms
    while read -r f; do
        syms=$(readelf --dyn-syms -W "$f" | awk '$7 == "UND" {print $8}')
        grep -q '^__stack_chk_fail@' <<<"$syms" || { echo "$f: no stack protector"; false; }
        # All of them format text with snprintf and friends, so a fortified
        # build calls at least one checking variant.
        grep -Eq '^__[a-z]+_chk@' <<<"$syms" || { echo "$f: no fortified calls"; false; }
    done <"$BATS_FILE_TMPDIR/elf"
}

@test "no binary carries a RUNPATH: nsfmend finds the server's libnotes.so through the loader" {
    local f
    while read -r f; do
        ! readelf -dW "$f" | grep -E 'R(UN)?PATH' || { echo "$f has a search path"; false; }
    done <"$BATS_FILE_TMPDIR/elf"
    readelf -d "$(unpacked nsfmend amd64)/usr/bin/nsfmend" | grep -q 'NEEDED.*\[libnotes\.so\]'
    # notesemu holds the emulator itself and needs no library search at all.
    run ! grep 'NEEDED.*libnotes' < <(readelf -d "$(unpacked nsfmend-emulator amd64)/usr/bin/notesemu")
}
