#!/usr/bin/env bats
# The interruption sweep: each operation that changes the server's files is
# stopped (SIGKILL) at its first file-system call, then at its second, and so
# on until it gets through; then the same with the k-th call failing (EIO
# and ENOSPC in turn). After every interruption the files must be wholly old
# or wholly new, a failure must never have been reported as success, a rerun
# must succeed and a second rerun must change nothing. sweep_driver.bash
# does the sweeping and checking.
#
# Calls of the platform library (the emulator) are not counted: its crash
# safety is the server's own. The count of swept points goes to
# $BUILD_DIR/interruption-sweep/, which make test prints.

load helpers
load agent_helpers

# Only the archive sweep needs the agent's client; it builds it itself.
setup_file() { :; }

setup() {
    require_faultshim
}

# Runs the driver for one operation and keeps its summary line.
sweep() {
    run bash "$BATS_TEST_DIRNAME/sweep_driver.bash" "$1"
    printf '%s\n' "$output"
    [ "$status" -eq 0 ]
    mkdir -p "$BUILD_DIR/interruption-sweep"
    printf '%s\n' "$output" | tail -n 1 >"$BUILD_DIR/interruption-sweep/$1.txt"
    printf '# %s\n' "$(tail -n 1 <<<"$output")" >&3
}

@test "sweep restore: a restore over a live database, interrupted at every call" {
    sweep restore
}

@test "sweep media-recovery: the notes.ini reset and media recovery, interrupted at every call" {
    sweep media-recovery
}

@test "sweep archive: an archive run with a full extent and a half-filled one, interrupted at every call" {
    agent_build_client
    sweep archive
}
