# Shared set-up for tests that need an S3 store (load with
# `load ../s3/s3_helpers` from tests/e2e): the real one, Swift, once for a
# whole test file, and the fault store, for one test or a file.
#
#   setup_file()    { start_swift_store; }
#   teardown_file() { stop_swift_store; }
#   setup()         { require_swift_store; }
#   teardown()      { stop_fault_store; }
#
# A start exports the store's AWS_* variables, so a program run by the test
# talks to it, and S3_STORE, the folder that s3, s3_object_sha256 and
# s3_list send their requests to (the store started last).

# Under bats: `run -N cmd` fails the test unless cmd exits N.
if declare -F bats_require_minimum_version >/dev/null; then
    bats_require_minimum_version 1.5.0
fi

S3_FIXTURES=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# Starts Swift and waits until it answers. The object server keeps metadata
# in extended attributes: where the test's temporary folder cannot keep
# them, a folder under /var/tmp is tried; where no file system here can,
# the machine cannot run Swift at all, and require_swift_store skips each
# test that needs it, with the reason (this bats cannot skip from
# setup_file).
start_swift_store() {
    local base dir rc=3
    for base in "$BATS_FILE_TMPDIR" /var/tmp; do
        dir=$(mktemp -d "$base/swift-store.XXXXXX")
        # Known before the start, so that a start killed halfway is still
        # stopped by teardown_file.
        export SWIFT_STORE=$dir
        "$S3_FIXTURES/swift-store" start "$dir" 3>&- && rc=0 || rc=$?
        [ "$rc" -eq 3 ] || break
        rm -rf "$dir"
        unset SWIFT_STORE
    done
    if [ "$rc" -eq 3 ]; then
        export SWIFT_STORE_SKIP="no file system here keeps user extended attributes, which Swift's object server needs"
        return 0
    fi
    [ "$rc" -eq 0 ] || return 1
    use_store "$dir"
}

require_swift_store() {
    [ -z "${SWIFT_STORE_SKIP:-}" ] || skip "$SWIFT_STORE_SKIP"
}

stop_swift_store() {
    [ -n "${SWIFT_STORE:-}" ] || return 0
    "$S3_FIXTURES/swift-store" stop "$SWIFT_STORE" 3>&-
    case $SWIFT_STORE in "$BATS_FILE_TMPDIR"/*) ;; *) rm -rf "$SWIFT_STORE" ;; esac
}

# start_fault_store [METHOD:KIND[:COUNT]]...: the fault store with those
# rules (see tests/s3/fault-store), in a folder of the test's own.
start_fault_store() {
    local dir rule args=()
    dir=$(mktemp -d "${BATS_TEST_TMPDIR:-$BATS_FILE_TMPDIR}/fault-store.XXXXXX")
    export FAULT_STORE=$dir
    for rule in "$@"; do args+=(--fault "$rule"); done
    /usr/bin/python3 "$S3_FIXTURES/fault-store" --dir "$dir" "${args[@]}" \
        </dev/null >"$dir/fault-store.log" 2>&1 3>&- &
    for _ in $(seq 100); do
        [ -f "$dir/env" ] && break
        kill -0 $! 2>/dev/null || break
        sleep 0.05
    done
    if [ ! -f "$dir/env" ]; then
        echo "fault-store did not start:" >&2
        cat "$dir/fault-store.log" >&2
        return 1
    fi
    use_store "$dir"
}

stop_fault_store() {
    [ -z "${FAULT_STORE:-}" ] || "$S3_FIXTURES/fault-store-stop" "$FAULT_STORE"
}

use_store() {
    export S3_STORE=$1
    # shellcheck disable=SC1091
    . "$1/env"
}

# s3 METHOD /bucket[/key][?query] [curl args...]: one signed request.
s3() {
    "$S3_FIXTURES/s3" "$S3_STORE" "$@"
}

# The SHA-256 of the object's body as the store gives it.
s3_object_sha256() {
    local out
    out=$(set -o pipefail; s3 GET "/$1/$2" | sha256sum) || return 1
    echo "${out%% *}"
}

# The keys under prefix $2 in bucket $1, one a line, across all pages of
# the listing (S3_LIST_PAGE keys a page, to test the paging).
s3_list() {
    local token='' page
    while :; do
        page=$(s3 GET "/$1?list-type=2&prefix=$2&max-keys=${S3_LIST_PAGE:-1000}${token:+&continuation-token=$token}" |
               /usr/bin/python3 -c '
import sys, xml.etree.ElementTree as ET
ns = "{http://s3.amazonaws.com/doc/2006-03-01/}"
root = ET.parse(sys.stdin).getroot()
for key in root.iter(ns + "Key"):
    print("key", key.text)
print("next", root.findtext(ns + "NextContinuationToken") or "")') || return 1
        sed -n 's/^key //p' <<<"$page"
        token=$(sed -n 's/^next //p' <<<"$page")
        [ -n "$token" ] || return 0
    done
}
