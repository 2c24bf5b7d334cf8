#!/usr/bin/env bats
# scripts/i386-runtime: how make test finds out whether this machine runs the
# i386 build's programs, and sets up user-mode emulation when it does not.
# The probe, the binfmt_misc folder, the user id and the install are stood
# in for, so these run on any machine and change nothing on it.

bats_require_minimum_version 1.5.0

: "${SOURCE_DIR:?set by CTest}"

setup() {
    SCRIPT="$SOURCE_DIR/scripts/i386-runtime"
    export I386_BINFMT="$BATS_TEST_TMPDIR/binfmt" I386_UID=0 I386_QEMU=/bin/true
    mkdir -p "$I386_BINFMT"
    echo enabled >"$I386_BINFMT/status"
    : >"$I386_BINFMT/register"
    STATE="$BATS_TEST_TMPDIR/state"
    export I386_INSTALL="touch $BATS_TEST_TMPDIR/installed"
    unset NSFMEND_I386_TESTS
}

# The kernel's entry for a registered i386 handler.
i386_entry() {
    printf 'enabled\ninterpreter /usr/bin/qemu-i386-static\nflags: F\noffset 0\nmagic 7f454c4601010100000000000000000002000300\nmask fffffffffffefe00fffffffffffffffffeffffff\n' \
        >"$I386_BINFMT/$1"
}

# A probe for a kernel without 32-bit support: it runs once a handler is
# registered, which it makes appear as the kernel would.
emulation_only_probe() {
    cat >"$BATS_TEST_TMPDIR/probe" <<PROBE
#!/bin/bash
[ -e "$I386_BINFMT/qemu-i386" ] && exit 0
if grep -q '^:qemu-i386:M::' "$I386_BINFMT/register"; then
    [ -e "$I386_BINFMT/qemu-i386" ] || { $(declare -f i386_entry); I386_BINFMT="$I386_BINFMT" i386_entry qemu-i386; }
    exit 0
fi
exit 126
PROBE
    chmod +x "$BATS_TEST_TMPDIR/probe"
    export I386_PROBE="$BATS_TEST_TMPDIR/probe"
}

@test "a machine that runs 32-bit programs runs the tests natively and registers nothing" {
    I386_PROBE=true run -0 "$SCRIPT" ensure "$STATE"
    [ "$output" = "i386 tests: run natively" ]
    [ "$(cat "$STATE")" = native ]
    [ ! -s "$I386_BINFMT/register" ]
    [ ! -e "$BATS_TEST_TMPDIR/installed" ]
    run -0 "$SCRIPT" summary "$STATE"
    [ "$output" = "i386 tests: run natively" ]
}

@test "a failing probe, as root: the emulator is installed, the i386 handler registered once, the tests run emulated" {
    emulation_only_probe
    run -0 "$SCRIPT" ensure "$STATE"
    [ -e "$BATS_TEST_TMPDIR/installed" ]
    # One line, with the i386 ELF magic and mask and the F flag.
    [ "$(cat "$I386_BINFMT/register")" = ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/bin/true:F' ]
    [ "$(cat "$STATE")" = emulated ]
    [[ $output == *"i386 tests: run under user-mode emulation (binfmt_misc handler qemu-i386)"* ]]
    run -0 "$SCRIPT" summary "$STATE"
    [ "$output" = "i386 tests: run under user-mode emulation (qemu-i386-static)" ]
    run -0 "$SCRIPT" emulated
    # Asked again, the handler now there is used as it is.
    : >"$I386_BINFMT/register"
    run -0 "$SCRIPT" ensure "$STATE"
    [ ! -s "$I386_BINFMT/register" ]
    [ "$(cat "$STATE")" = emulated ]
}

@test "a handler somebody registered already is kept, never replaced" {
    i386_entry binfmt-i386
    cp "$I386_BINFMT/binfmt-i386" "$BATS_TEST_TMPDIR/before"
    I386_PROBE=false run -1 "$SCRIPT" ensure "$STATE"
    [[ $output == *"keeping the i386 handler $I386_BINFMT/binfmt-i386"* ]]
    [[ $output == *"a 32-bit program still does not run"* ]]
    [ ! -s "$I386_BINFMT/register" ]
    cmp "$I386_BINFMT/binfmt-i386" "$BATS_TEST_TMPDIR/before"
    # One that works: the probe runs, and the tests run under it.
    I386_PROBE=true run -0 "$SCRIPT" ensure "$STATE"
    [ "$(cat "$STATE")" = emulated ]
    [ ! -s "$I386_BINFMT/register" ]
}

@test "a disabled handler or one for another machine is not taken for i386" {
    i386_entry qemu-i386
    sed -i 's/^enabled$/disabled/' "$I386_BINFMT/qemu-i386"
    run -1 "$SCRIPT" emulated
    printf 'enabled\ninterpreter /usr/bin/qemu-arm-static\nflags: F\noffset 0\nmagic 7f454c4601010100000000000000000002002800\n' >"$I386_BINFMT/qemu-arm"
    run -1 "$SCRIPT" emulated
    i386_entry qemu-i386
    echo disabled >"$I386_BINFMT/status"
    run -1 "$SCRIPT" emulated
}

@test "not root and no 32-bit support: make test stops, naming the cause and the remedy" {
    I386_UID=1000 I386_PROBE=false run -1 "$SCRIPT" ensure "$STATE"
    [[ $output == *"cannot run 32-bit x86 programs: not root, so qemu-user-static cannot be installed and registered"* ]]
    [[ $output == *"Remedy: run make test as root"* ]]
    [[ $output == *"NSFMEND_I386_TESTS=build-only make test"* ]]
    [ ! -e "$BATS_TEST_TMPDIR/installed" ]
    [ ! -s "$I386_BINFMT/register" ]
    [ ! -e "$STATE" ]
}

@test "an emulator that cannot be installed or registered stops make test too" {
    I386_INSTALL=false I386_PROBE=false run -1 "$SCRIPT" ensure "$STATE"
    [[ $output == *"qemu-user-static could not be installed"* ]]
    # A register file the kernel refuses to take the line from.
    rm "$I386_BINFMT/register"
    mkdir "$I386_BINFMT/register"
    I386_PROBE=false run -1 "$SCRIPT" ensure "$STATE"
    [[ $output == *"the kernel refused the i386 handler"* ]]
    [[ $output == *"no i386 handler could be registered with binfmt_misc"* ]]
    # No register file: only the kernel's own folder is ever mounted.
    rmdir "$I386_BINFMT/register"
    I386_PROBE=false run -1 "$SCRIPT" ensure "$STATE"
    [[ $output == *"$I386_BINFMT has no register file"* ]]
    run -0 mount
    [[ $output != *"$I386_BINFMT"* ]]
}

@test "the build-only opt-out runs nothing and says so, in the summary too" {
    NSFMEND_I386_TESTS=build-only I386_PROBE=false run -0 "$SCRIPT" ensure "$STATE"
    [ "$output" = "i386 tests: built and checked, NOT run (NSFMEND_I386_TESTS=build-only)" ]
    [ "$(cat "$STATE")" = build-only ]
    [ ! -e "$BATS_TEST_TMPDIR/installed" ]
    run -0 "$SCRIPT" summary "$STATE"
    [ "$output" = "i386 tests: WARNING: built and checked, NOT run (NSFMEND_I386_TESTS=build-only)" ]
    NSFMEND_I386_TESTS=skip run -2 "$SCRIPT" ensure "$STATE"
    [[ $output == *"'run' or 'build-only', not 'skip'"* ]]
}

@test "the build-only check refuses a tree with a program that is not i386" {
    local tree="$BATS_TEST_TMPDIR/tree"
    mkdir -p "$tree"
    printf 'add_test(NAME a COMMAND true)\n' >"$tree/CTestTestfile.cmake"
    echo 'int main(void) { return 0; }' >"$BATS_TEST_TMPDIR/p.c"
    gcc -o "$tree/p64" "$BATS_TEST_TMPDIR/p.c"
    run -1 "$SCRIPT" check-tree "$tree"
    [[ $output == *"not an i386 ELF file: $tree/p64"* ]]
    if gcc -m32 -o "$tree/p64" "$BATS_TEST_TMPDIR/p.c" 2>/dev/null; then
        run -0 "$SCRIPT" check-tree "$tree"
        [[ $output == *"1 ELF files in $tree are i386; CTest lists 1 tests; none of them was run"* ]]
    fi
}
