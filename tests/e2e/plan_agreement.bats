#!/usr/bin/env bats
# The check, the run and the server alone agree: a fixed sample of generated
# server states (every mode clean, every single fault, then seeded
# combinations), each checked with OPT=CHECK and then run, and a copy of it
# run by the server alone. `make plan-agreement` runs a larger sample and
# prints its table.

# The i386 and sanitizer builds take every single fault (PLAN_AGREEMENT_STATES
# is "singles" there, see tests/CMakeLists.txt): the random combinations add
# no path of the program, only the interactions the x86-64 sample and
# make plan-agreement cover.
@test "OPT=CHECK, the run and the server alone agree on generated states, and the check changes nothing" {
    run "$SOURCE_DIR/tests/e2e/plan-agreement" --states "${PLAN_AGREEMENT_STATES:-120}" --seed 1
    printf '%s\n' "$output" | grep -v '^note state' >&3 || true
    [ "$status" -eq 0 ]
    [[ $output == *"no undocumented disagreement, no change, no hang"* ]]
}
