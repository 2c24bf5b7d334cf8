#!/usr/bin/env bats
# The faults of a network and of a store that a real store shows only by
# chance, from the project's own fault store (tests/s3/fault-store): each
# is sent again whole and gets through, or ends in a clear error within the
# limits (store_helpers.bash sets a 2 s low-speed time and a 30 s deadline),
# and no extent is reported archived that the store does not hold.

load helpers
load agent_helpers
load store_helpers

teardown() {
    stop_fault_store
    check_handles_left_open
}

# A server with extent 1 full and 2 being filled, and the fault store with
# the rules given; STORE is its bucket's location.
faulty_store() {
    new_server
    write_changes mail.nsf 5
    start_fault_store "$@"
    BUCKET=archive
    mkdir -p "$FAULT_STORE/objects/$BUCKET"
    STORE="s3://$BUCKET/logs/"
}

# The requests the store saw for key $1, one "METHOD STATUS FAULT" a line.
requests_for() {
    awk -v path="/$BUCKET/logs/$1" '$2 == path { print $1, $3, $4 }' "$FAULT_STORE/requests.log"
}

# rule | what is asked (spool, or verify after a clean spool) | the outcome:
# ok, or the start of the failure's words after the object's name
@test "each fault of the fault store: sent again and through, or a clear error; never a hang" {
    local cases=(
        "PUT:503:2|spool|ok"
        "PUT:500:1|spool|ok"
        "HEAD:503:1|spool|ok"
        "PUT:drop:1|spool|ok"
        "PUT:truncate:1|spool|ok"
        "PUT:stall:1|spool|ok"
        "PUT:error200:1|spool|ok"
        "PUT:503|spool|SlowDown: Please reduce your request rate. (HTTP 503), after 3 attempts in "
        "PUT:stall|spool|Timeout was reached"
        "PUT:403|spool|AccessDenied: Access Denied (HTTP 403)"
        "GET:500:2|verify|ok"
        "GET:truncate:1|verify|ok"
        "GET:stall:1|verify|ok"
        "GET:drop:1|verify|ok"
        "GET:error200:1|verify|ok"
        "GET:badsum:1|verify|ok"
        "LIST:503:1|verify|ok"
        "GET:badsum|verify|ChecksumMismatch: what came has not the SHA-256 the object carries (HTTP 200), after 3 attempts"
        "GET:error200|verify|InternalError: "
        "LIST:500|verify|InternalError: "
    )
    local c rule ask outcome msg
    for c in "${cases[@]}"; do
        IFS='|' read -r rule ask outcome <<<"$c"
        stop_fault_store
        rm -rf "$SERVER"
        if [ "$ask" = spool ]; then
            faulty_store "$rule"
            run agent_within 60 spool "$STORE" ""
            msg=$(field msg)
            if [ "$outcome" = ok ]; then
                [ "$msg" = QMR_NSF_SUCCESS ] || { echo "$rule: $output"; false; }
                [ "$(extent_states | head -n 1)" = "S0000001.TXN archived" ]
                cmp "$SERVER/logdir/S0000001.TXN" "$FAULT_STORE/objects/$BUCKET/logs%2FS0000001.TXN"
            else
                [[ "$msg" == "Error copying file $SERVER/logdir/S0000001.TXN to ${STORE}S0000001.TXN. $outcome"* ]] ||
                    { echo "$rule: $output"; false; }
                [ "$(extent_states | head -n 1)" = "S0000001.TXN full" ] || { echo "$rule: reported archived"; false; }
            fi
        else
            faulty_store
            agent_ok spool "$STORE" ""
            restart_fault_store "$rule"
            run agent_within 60 verify "$STORE"
            msg=$(field msg)
            if [ "$outcome" = ok ]; then
                [ "$msg" = QMR_NSF_SUCCESS ] || { echo "$rule: $output"; false; }
            else
                [[ "$msg" == *"Reason=$outcome"* ]] || { echo "$rule: $output"; false; }
            fi
        fi
    done
}

@test "an upload carries Content-MD5, its signed SHA-256 and the stored one, after a look that nothing is there" {
    faulty_store
    agent_ok spool "$STORE" ""
    # Looked up, put with every checksum, then found as put.
    [ "$(requests_for S0000001.TXN | cut -d' ' -f1,2 | tr '\n' ' ')" = "HEAD 404 PUT 200 HEAD 200 HEAD 200 " ]
    grep -q "^PUT /$BUCKET/logs/S0000001.TXN 200 - content-md5 x-amz-content-sha256 x-amz-date x-amz-meta-sha256" \
        "$FAULT_STORE/requests.log"
    # A rerun finds each object as it was put and writes none again.
    : >"$FAULT_STORE/requests.log"
    agent_ok spool "$STORE" ""
    run ! grep -q "^PUT /$BUCKET/logs/S0000001.TXN " "$FAULT_STORE/requests.log"
}

# A store that keeps other bytes than it was sent and says 200 breaks its
# own promise (it checked Content-MD5 and the signed SHA-256 first): the
# archiving cannot know, the check of the archive does.
@test "a store that keeps a damaged body: the check of the archive finds it" {
    faulty_store "PUT:badsum:1"
    agent_ok spool "$STORE" ""
    run -1 nsfmend OPT=VERIFY IN="$STORE"
    [[ "$output" == *"FAIL archived file: ${STORE}S0000001.TXN cannot be read, Reason=ChecksumMismatch: "* ]]
}
