#!/usr/bin/env bats
# The check and the run agree: a fixed sample of generated server states
# (every mode clean, every single fault, then seeded combinations), each
# checked with OPT=CHECK and then run. `make plan-agreement` runs a larger
# sample and prints its table.

@test "OPT=CHECK and the run agree on 120 generated states, and the check changes nothing" {
    run "$SOURCE_DIR/tests/e2e/plan-agreement" --states 120 --seed 1
    printf '%s\n' "$output" | grep -v '^note state' >&3 || true
    [ "$status" -eq 0 ]
    [[ $output == *"no undocumented disagreement, no change, no hang"* ]]
}
