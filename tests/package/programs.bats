#!/usr/bin/env bats
# The installed programs of both architectures, unpacked as an
# administrator gets them: nsfmend against the installed emulator, both
# programs' versions, and their manual pages.

bats_require_minimum_version 1.5.0

load package_helpers
# The end-to-end helpers drive the programs; each test points them at one
# architecture's unpacked packages.
export NSFMEND=none NOTESEMU=none
load ../e2e/helpers
load ../e2e/recovery_helpers

# Points NSFMEND, NOTESEMU and LD_LIBRARY_PATH at ARCH's unpacked packages.
use_arch() {
    local emulator
    emulator=$(unpacked nsfmend-emulator "$1")
    export NSFMEND="$(unpacked nsfmend "$1")/usr/bin/nsfmend" NOTESEMU="$emulator/usr/bin/notesemu"
    export LD_LIBRARY_PATH="$emulator/usr/lib/$(triplet "$1")/nsfmend-emulator"
}

@test "the installed nsfmend runs test mode and a recovery against the installed emulator" {
    local arch
    for arch in "${RUN_ARCHES[@]}"; do
        use_arch "$arch"
        rm -rf "$BATS_TEST_TMPDIR/notesdata" "$BATS_TEST_TMPDIR/backup"
        mail_story
        run nsfmend TEST="installed $arch OK" </dev/null
        [ "$status" -eq 0 ]
        assert_output_has $'\ninstalled '"$arch"$' OK\n'
        cp "$LIVE" "$BATS_TEST_TMPDIR/live-before"
        run nsfmend OPT=RECOVER IN="$BACKUP" OUT="$LIVE" </dev/null
        [ "$status" -eq 0 ]
        assert_output_has " Recover $BACKUP till latest transaction"
        [ "$(db_notes "$BACKUP")" == "$LATEST" ]
        cmp "$LIVE" "$BATS_TEST_TMPDIR/live-before"
    done
}

@test "without a libnotes.so to load, the installed nsfmend stops with the loader's message" {
    run -127 env -u LD_LIBRARY_PATH "$(unpacked nsfmend amd64)/usr/bin/nsfmend" TEST=ok
    [[ $output == *"libnotes.so: cannot open shared object file"* ]]
}

@test "both installed programs print the package's version" {
    local arch
    for arch in "${RUN_ARCHES[@]}"; do
        use_arch "$arch"
        run -0 "$NSFMEND" --version
        [ "$output" = "nsfmend $VERSION" ]
        run -0 "$NOTESEMU" --version
        [ "$output" = "notesemu (nsfmend) $VERSION" ]
    done
}

@test "the manual pages format cleanly with man -l and groff -ww, and name this version" {
    local page name
    for page in "$(unpacked nsfmend amd64)/usr/share/man/man1/nsfmend.1.gz" \
                "$(unpacked nsfmend-emulator amd64)/usr/share/man/man1/notesemu.1.gz"; do
        name=$(basename "$page" .1.gz)
        MANPAGER=cat MANWIDTH=80 man --warnings -l "$page" >"$BATS_TEST_TMPDIR/man.out" 2>"$BATS_TEST_TMPDIR/man.err"
        [ ! -s "$BATS_TEST_TMPDIR/man.err" ] || { cat "$BATS_TEST_TMPDIR/man.err"; false; }
        grep -q '^NAME' "$BATS_TEST_TMPDIR/man.out"
        # The footer names the package and its version.
        grep -q "^nsfmend $VERSION " "$BATS_TEST_TMPDIR/man.out" || { echo "$name: footer names another version"; false; }
        zcat "$page" | groff -man -Tutf8 -ww >/dev/null 2>"$BATS_TEST_TMPDIR/groff.err"
        [ ! -s "$BATS_TEST_TMPDIR/groff.err" ] || { cat "$BATS_TEST_TMPDIR/groff.err"; false; }
    done
    grep -q "nsfmend --version" <(MANPAGER=cat MANWIDTH=80 man -l "$(unpacked nsfmend amd64)/usr/share/man/man1/nsfmend.1.gz")
    grep -q "notesemu --help | --version" <(MANPAGER=cat MANWIDTH=80 man -l "$(unpacked nsfmend-emulator amd64)/usr/share/man/man1/notesemu.1.gz")
}
