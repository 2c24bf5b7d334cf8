#!/usr/bin/env bats
# The S3 test stores themselves: what the store's tests rely on.

load s3_helpers

setup_file() { start_swift_store; }
teardown_file() { stop_swift_store; }
teardown() {
    stop_fault_store
    [ -z "${SECOND_STORE:-}" ] || "$S3_FIXTURES/swift-store" stop "$SECOND_STORE"
}

setup() {
    # Over 1 KiB: curl sends its PUTs with Expect: 100-continue.
    BODY=$BATS_TEST_TMPDIR/body
    head -c 3000 /dev/urandom >"$BODY"
    SHA=$(sha256sum <"$BODY" | cut -d' ' -f1)
    MD5=$(openssl md5 -binary <"$BODY" | base64)
}

@test "swift: a bucket made, an object put with its checksums, listed and got back whole" {
    require_swift_store
    s3 PUT /fixtures
    s3 PUT /fixtures/logs/S0000001.TXN -T "$BODY" -H "Content-MD5: $MD5" -H "x-amz-meta-sha256: $SHA"
    s3 PUT "/fixtures/logs/é x.TXN" -T "$BODY"  # signed in its canonical, encoded form
    [ "$(s3_object_sha256 fixtures logs/S0000001.TXN)" = "$SHA" ]
    s3 HEAD /fixtures/logs/S0000001.TXN | grep -qi "^x-amz-meta-sha256: $SHA"
    [ "$(S3_LIST_PAGE=1 s3_list fixtures logs/)" = $'logs/S0000001.TXN\nlogs/é x.TXN' ]
}

@test "swift: a wrong checksum or credential is refused, and nothing is stored" {
    require_swift_store
    s3 PUT /refusals
    local cases=(
        "env|Content-MD5: $(echo other | openssl md5 -binary | base64)|BadDigest"
        "env|x-amz-content-sha256: $(echo other | sha256sum | cut -d' ' -f1)|BadDigest"
        "env-wrong|x-amz-meta-sha256: $SHA|SignatureDoesNotMatch"
        "env-other|x-amz-meta-sha256: $SHA|NoSuchBucket"
    )
    local c env header code
    for c in "${cases[@]}"; do
        IFS='|' read -r env header code <<<"$c"
        run env S3_ENV="$env" "$S3_FIXTURES/s3" "$S3_STORE" PUT /refusals/key -T "$BODY" -H "$header"
        [ "$status" -ne 0 ] && [[ $output == *"<Code>$code</Code>"* ]] || { echo "case $c: $output"; false; }
    done
    [ -z "$(s3_list refusals '')" ]
}

@test "fault store: each fault as curl sees it, and the request log" {
    # rule | request | curl's exit status | what the output holds
    local cases=(
        "GET:500|GET|22|<Code>InternalError</Code>"
        "GET:503|GET|22|<Code>SlowDown</Code>"
        "GET:403|GET|22|<Code>AccessDenied</Code>"
        "GET:404b|GET|22|<Code>NoSuchBucket</Code>"
        "GET:error200|GET|0|<Code>InternalError</Code>"
        "GET:badsum|GET|0|other body"
        "GET:stall|GET|28|"
        "GET:truncate|GET|18|"
        "GET:drop|GET|52|"
        "HEAD:badsum|HEAD|0|other checksum"
        "PUT:badsum|PUT|0|other body"
        "PUT:503:1|PUT|22|<Code>SlowDown</Code>"
        "PUT:stall|PUT|28|"
        "PUT:drop|PUT|52|"
        "LIST:error200|LIST|0|<Code>InternalError</Code>"
        "-|PUT Content-MD5: $(echo other | openssl md5 -binary | base64)|22|<Code>BadDigest</Code>"
        "-|PUT x-amz-content-sha256: $(echo other | sha256sum | cut -d' ' -f1)|22|<Code>XAmzContentSHA256Mismatch</Code>"
    )
    local c rule request want holds got logged kind
    for c in "${cases[@]}"; do
        IFS='|' read -r rule request want holds <<<"$c"
        if [ "$rule" = - ]; then start_fault_store; else start_fault_store "$rule"; fi
        mkdir "$FAULT_STORE/objects/b"
        [[ $request == PUT* ]] || s3 PUT /b/k -T "$BODY" -H "x-amz-meta-sha256: $SHA"
        case $request in
            GET) run s3 GET /b/k -m 1 -o "$BATS_TEST_TMPDIR/answer"
                 output+=$(tr -d '\0' 2>/dev/null <"$BATS_TEST_TMPDIR/answer") ;;
            HEAD) run s3 HEAD /b/k -m 1 ;;
            LIST) run s3 GET '/b?list-type=2' -m 1 ;;
            PUT) run s3 PUT /b/k -m 1 -T "$BODY" -H "Content-MD5: $MD5" -H "x-amz-meta-sha256: $SHA" ;;
            PUT\ *) run s3 PUT /b/k -m 1 -T "$BODY" -H "${request#PUT }" ;;
        esac
        got=$status
        # The faulted request's line: its fault, and the checksums it carried.
        logged=$(tail -n 1 "$FAULT_STORE/requests.log")
        kind=${rule#*:}
        [[ $logged == *" ${kind%%:*} "* ]] || [ "$rule" = - ] || got="not logged"
        [[ $request != PUT || $logged == *content-md5*x-amz-meta-sha256* ]] || got="not logged"
        case $holds in
            "other body") [ "$(s3_object_sha256 b k)" != "$SHA" ] || got="same body" ;;
            "other checksum") [[ $output == *x-amz-meta-sha256:* && $output != *"$SHA"* ]] || got="same checksum" ;;
            *) [[ $output == *"$holds"* ]] || got="no $holds" ;;
        esac
        [ "$got" = "$want" ] || { echo "case $c: got $got: ${output:0:300}" | tr -cd '[:print:]\n'; cat "$FAULT_STORE/requests.log"; false; }
        # A fault with a COUNT is used up.
        [[ $rule != *:*:* ]] || s3 PUT /b/k -T "$BODY"
        stop_fault_store
    done
}

@test "fault store: PUTs with 100-continue on one connection, metadata kept, listing in pages" {
    start_fault_store
    s3 PUT /b
    # curl puts the second file over the first one's connection.
    [ "$(s3 PUT /b/k1 -T "$BODY" -H "x-amz-meta-sha256: $SHA" -w '%{num_connects} ' -T "$BODY" "$AWS_ENDPOINT_URL/b/k2")" = "1 0 " ]
    s3 HEAD /b/k1 | grep -qi "^x-amz-meta-sha256: $SHA"
    [ "$(S3_LIST_PAGE=1 s3_list b k)" = $'k1\nk2' ]
    [ "$(grep -c '^GET /b?' "$FAULT_STORE/requests.log")" -eq 2 ]
    s3 DELETE /b/k1
    run -22 s3 GET /b/k1
    [[ $output == *"<Code>NoSuchKey</Code>"* ]]
    [ "$(s3_list b k)" = k2 ]
}

@test "stop leaves no process behind, may be said twice, and kills nothing else" {
    require_swift_store
    local pids pid
    # A stopped child of this shell stays a zombie until it is waited for.
    gone() { [[ "$(ps -o stat= -p "$1")" =~ ^(Z|$) ]]; }
    SECOND_STORE=$(mktemp -d "$(dirname "$SWIFT_STORE")/second.XXXXXX")
    "$S3_FIXTURES/swift-store" start "$SECOND_STORE" 3>&-
    pids=$(cat "$SECOND_STORE/pids")
    [ "$(wc -l <<<"$pids")" -eq 4 ]
    start_fault_store GET:stall
    s3 PUT /b
    s3 GET /b/k -m 5 >/dev/null 2>&1 3>&- &  # a connection the store holds
    pids+=" $(cat "$FAULT_STORE/pid")"
    "$S3_FIXTURES/swift-store" stop "$SECOND_STORE"
    stop_fault_store
    for pid in $pids; do
        gone "$pid" || { echo "process $pid is still there"; false; }
    done
    # Said again, with the PID files naming another program now.
    sleep 30 3>&- &
    echo $! >"$SECOND_STORE/pids"
    echo $! >"$FAULT_STORE/pid"
    "$S3_FIXTURES/swift-store" stop "$SECOND_STORE"
    stop_fault_store
    if gone $!; then echo "a stop killed another program"; false; fi
    kill $!
}
