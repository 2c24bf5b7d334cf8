# Shared set-up of the tests that archive to an object store, check one or
# fetch from one: the test stores of tests/s3 (Swift, once per file; the
# fault store, per test), a bucket of each test's own, and what a store
# holds, brought down to a folder so the folder's checks apply to it too.

# shellcheck source=../s3/s3_helpers.bash
. "$(dirname "${BASH_SOURCE[0]}")/../s3/s3_helpers.bash"

# Nothing between the tests and their stores on 127.0.0.1.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY ALL_PROXY all_proxy
# Limits a fault meets in seconds: a test that hangs fails its timeout
# instead of holding up the suite.
export NSFMEND_S3_CONNECT_TIMEOUT=2 NSFMEND_S3_LOW_SPEED_TIME=2 NSFMEND_S3_REQUEST_TIMEOUT=20 \
    NSFMEND_S3_RETRIES=2 NSFMEND_S3_DEADLINE=30

# A bucket of this test's own in the store started last; sets BUCKET and
# STORE, the location s3://BUCKET/logs/.
new_bucket() {
    BUCKET="t${BATS_TEST_NUMBER:-0}-$RANDOM$RANDOM"
    s3 PUT "/$BUCKET" >/dev/null
    STORE="s3://$BUCKET/logs/"
}

# Every object under prefix $2 of bucket $1 into folder $3, under the names
# they have below the prefix.
store_to_folder() {
    local key
    mkdir -p "$3"
    for key in $(s3_list "$1" "$2"); do
        s3 GET "/$1/$key" -o "$3/${key#"$2"}"
    done
}

# The stored x-amz-meta-sha256 of object $2 in bucket $1.
stored_sha256() {
    s3 HEAD "/$1/$2" | tr -d '\r' | sed -n 's/^x-amz-meta-sha256: //Ip'
}

# An object put as another program would: no checksum stored with it.
put_object() { # BUCKET KEY FILE
    s3 PUT "/$1/$2" -T "$3" >/dev/null
}

# Runs the agent, failing (exit 124) instead of hanging past $1 seconds.
agent_within() {
    local seconds=$1
    shift
    LD_LIBRARY_PATH="$AGENT_LIBDIR:$LIBNOTES_DIR" timeout "$seconds" "$AGENT_CLIENT" "$@"
}

# The fault store of this test again, with the objects it holds, under the
# rules given (on a new port).
restart_fault_store() {
    local rule args=()
    stop_fault_store
    rm -f "$FAULT_STORE/env" "$FAULT_STORE/port"
    for rule in "$@"; do args+=(--fault "$rule"); done
    /usr/bin/python3 "$S3_FIXTURES/fault-store" --dir "$FAULT_STORE" "${args[@]}" \
        </dev/null >>"$FAULT_STORE/fault-store.log" 2>&1 3>&- &
    for _ in $(seq 100); do
        [ -f "$FAULT_STORE/env" ] && break
        sleep 0.05
    done
    [ -f "$FAULT_STORE/env" ] || { cat "$FAULT_STORE/fault-store.log" >&2; return 1; }
    use_store "$FAULT_STORE"
}
