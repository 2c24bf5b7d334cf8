#!/usr/bin/env bats
# Archiving to an object store and checking it there, against a real S3
# store (OpenStack Swift's S3 layer, started once for the file): every
# object is its extent and carries its SHA-256, nothing is overwritten by
# surprise, an extent is reported archived only once the store holds it
# whole, and OPT=VERIFY says of a store what it says of a folder.

load helpers
load agent_helpers
load store_helpers

setup_file() {
    agent_build_client
    start_swift_store
}
teardown_file() { stop_swift_store; }

setup() {
    require_swift_store
    new_server
    new_bucket
}

@test "an archiving run into a bucket: every object is its extent, as the record and its own checksum say" {
    write_changes mail.nsf 11
    agent_ok spool "$STORE" "-full"
    [ "$(extent_states | tr '\n' ' ')" = "S0000001.TXN archived S0000002.TXN archived S0000003.TXN current " ]
    store_to_folder "$BUCKET" logs/ "$BATS_TEST_TMPDIR/got"
    [ "$(archived_files "$BATS_TEST_TMPDIR/got" | tr '\n' ' ')" = "S0000001.TXN-full S0000002.TXN-full S0000003.TXN-full " ]
    for n in 1 2 3; do
        cmp "$SERVER/logdir/S000000$n.TXN" "$BATS_TEST_TMPDIR/got/S000000$n.TXN-full"
        [ "$(stored_sha256 "$BUCKET" "logs/S000000$n.TXN-full")" = "$(sha256sum <"$SERVER/logdir/S000000$n.TXN" | cut -d' ' -f1)" ]
    done
    # sha256sum's own check of every object against the record in the store.
    run check_records "$BATS_TEST_TMPDIR/got"
    [ "$output" = $'S0000001.TXN-full: OK\nS0000002.TXN-full: OK\nS0000003.TXN-full: OK' ]
    grep -q "^# size [0-9]* log [0-9A-F]\{32\}$" "$BATS_TEST_TMPDIR/got/$(archive_records "$BATS_TEST_TMPDIR/got")"

    # What a monitoring system reads of the store, from its listing and records.
    run -0 --separate-stderr nsfmend OPT=VERIFY IN="$STORE" OUTPUT=json
    [ "$(jq -c '[.counts.extents, .counts.bytes, .newest_extent.number, .newest_extent.archived_from]' <<<"$output")" = \
      "[3,$(cat "$SERVER"/logdir/S000000[123].TXN | wc -c),3,\"archive record\"]" ]

    # A second run finds every object there and writes nothing.
    agent_ok spool "$STORE" "-full"
    [ "$(s3_list "$BUCKET" logs/ | wc -l)" -eq 4 ]
}

# What the store holds under an extent's name before the run, and what the
# run makes of it: the same bytes count as the copy; the start of the extent
# carrying its own checksum is an earlier capture, completed; anything else
# (another extent, an empty or short object without our checksum) stops the
# run, stays as it was, and the extent is not reported archived.
@test "an object already there: the same counts as archived, anything else is never replaced" {
    local extent="$SERVER/logdir/S0000001.TXN" other="$BATS_TEST_TMPDIR/other" start="$BATS_TEST_TMPDIR/start"
    local altered="$BATS_TEST_TMPDIR/altered"
    echo "another server's extent" >"$other"
    : >"$BATS_TEST_TMPDIR/empty"
    local cases=(
        "same|$extent|with|ok"
        "capture|$start|with|ok"
        "other|$other|with|refused"
        "altered|$altered|with|refused"
        "other-unsigned|$other|without|refused"
        "empty|$BATS_TEST_TMPDIR/empty|without|refused"
        "short|$start|without|refused"
    )
    local c name file sum outcome before
    for c in "${cases[@]}"; do
        IFS='|' read -r name file sum outcome <<<"$c"
        rm -rf "$SERVER"
        new_server
        write_changes mail.nsf 5  # extent 1 full, 2 being filled
        head -c 40 "$extent" >"$start"
        cp "$extent" "$altered"
        flip_byte "$altered" 100  # the same size, other bytes
        new_bucket
        if [ "$sum" = with ]; then
            s3 PUT "/$BUCKET/logs/S0000001.TXN" -T "$file" \
                -H "x-amz-meta-sha256: $(sha256sum <"$file" | cut -d' ' -f1)" >/dev/null
        else
            put_object "$BUCKET" logs/S0000001.TXN "$file"
        fi
        before=$(s3_object_sha256 "$BUCKET" logs/S0000001.TXN)
        run agent spool "$STORE" ""
        if [ "$outcome" = ok ]; then
            [ "$(field msg)" = QMR_NSF_SUCCESS ] || { echo "$name: $output"; false; }
            [ "$(s3_object_sha256 "$BUCKET" logs/S0000001.TXN)" = "$(sha256sum <"$extent" | cut -d' ' -f1)" ]
            [ "$(extent_states | head -n 1)" = "S0000001.TXN archived" ]
        else
            [[ "$(field msg)" == "Error copying file $extent to ${STORE}S0000001.TXN. an object of "*" is there already; it is never replaced" ]] ||
                { echo "$name: $output"; false; }
            [ "$(s3_object_sha256 "$BUCKET" logs/S0000001.TXN)" = "$before" ]
            [ "$(extent_states | head -n 1)" = "S0000001.TXN full" ] || { echo "$name: reported archived"; false; }
        fi
    done
}

@test "a capture the next run completes: the object is replaced whole and the newer record is in force" {
    ARCHIVE=$STORE
    two_archive_runs ".a" ".a"
    store_to_folder "$BUCKET" logs/ "$BATS_TEST_TMPDIR/got"
    [ "$(archive_records "$BATS_TEST_TMPDIR/got" | wc -l)" -eq 2 ]
    run -0 check_records "$BATS_TEST_TMPDIR/got"
    for f in "$BATS_TEST_TMPDIR"/got/S*; do
        cmp "$f" "$SERVER/logdir/$(basename "${f%.a}")"
    done
    run -0 nsfmend OPT=VERIFY IN="$STORE" OUT="$SERVER/logdir"
    agent_ok verify "$STORE" "$SERVER/logdir"
}

# The same archive in a store and, brought down, in a folder, damaged the
# same way: the check says the same lines of both (the place's name aside)
# and the same verdict, and the agent's check the same text.
@test "verify finds a missing, a short or an altered object, in the words it has for a folder" {
    write_changes mail.nsf 11
    local damage key=logs/S0000002.TXN file copy="$BATS_TEST_TMPDIR/copy/"
    for damage in none missing short altered; do
        new_bucket
        agent_ok spool "$STORE" ""
        rm -rf "$copy"
        store_to_folder "$BUCKET" logs/ "$copy"
        file="${copy}S0000002.TXN"
        case $damage in
            missing) rm "$file"; s3 DELETE "/$BUCKET/$key" >/dev/null ;;
            short) truncate -s 100 "$file"; put_object "$BUCKET" "$key" "$file" ;;
            altered) flip_byte "$file" 50; put_object "$BUCKET" "$key" "$file" ;;
        esac
        run nsfmend OPT=VERIFY IN="$copy"
        local folder_status=$status folder_lines=${output//$copy/$STORE}
        run nsfmend OPT=VERIFY IN="$STORE"
        [ "$status" -eq "$folder_status" ] || { echo "$damage: $status, folder $folder_status"; false; }
        [ "$output" = "$folder_lines" ] || { diff <(echo "$folder_lines") <(echo "$output"); false; }
        if [ "$damage" = none ]; then [ "$status" -eq 0 ]; else [ "$status" -eq 1 ]; fi
        local folder_msg
        folder_msg=$(agent verify "$copy" | sed -n 's/^msg=//p')
        agent_says "${folder_msg//$copy/$STORE}" verify "$STORE"
    done
    [[ "$(field msg)" == "Archived file ${STORE}S0000002.TXN does not match archive record nsfmend-archive-"*".sha256 (same size, another SHA-256)" ]]
}

# Each refusal names the object and the store's own words, reports nothing
# archived, and comes within the limits the tests set (a 30 s deadline).
@test "wrong credentials, an unknown bucket, a store that is down: a clear error, nothing archived, no hang" {
    write_changes mail.nsf 5
    local down
    down=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    local cases=(
        "env-wrong|$STORE|SignatureDoesNotMatch: "
        "env-other|$STORE|NoSuchBucket: "
        "env|s3://no-such-bucket-$RANDOM/logs/|NoSuchBucket: The specified bucket does not exist"
        "down|$STORE|Couldn't connect to server"
    )
    local c env location words
    for c in "${cases[@]}"; do
        IFS='|' read -r env location words <<<"$c"
        (
            if [ "$env" = down ]; then
                export AWS_ENDPOINT_URL="http://127.0.0.1:$down"
            else
                . "$S3_STORE/$env"
            fi
            run agent_within 60 spool "$location" ""
            [ "$status" -eq 0 ] || { echo "$env: exit $status"; false; }
            [[ "$(field msg)" == "Error copying file $SERVER/logdir/S0000001.TXN to ${location}S0000001.TXN. $words"* ]] ||
                { echo "$env: $output"; false; }
            [[ "$output" != *"$AWS_SECRET_ACCESS_KEY"* ]]
        )
        [ "$(extent_states | tr '\n' ' ')" = "S0000001.TXN full S0000002.TXN current " ]
    done
    [ -z "$(s3_list "$BUCKET" logs/)" ]
}

@test "credentials from a file only its owner may read; never from one others may, never shown" {
    write_changes mail.nsf 5
    local file="$BATS_TEST_TMPDIR/credentials" secret=$AWS_SECRET_ACCESS_KEY
    printf '[default]\naws_access_key_id = %s\naws_secret_access_key = %s\n' "$AWS_ACCESS_KEY_ID" "$secret" >"$file"
    chmod 0644 "$file"
    run env -u AWS_ACCESS_KEY_ID -u AWS_SECRET_ACCESS_KEY NSFMEND_S3_CREDENTIALS="$file" \
        LD_LIBRARY_PATH="$AGENT_LIBDIR:$LIBNOTES_DIR" "$AGENT_CLIENT" spool "$STORE" ""
    [ "$(field msg)" = "The credentials file $file must be a regular file of this user's that only its owner may read (mode 0600); it is mode 0644 of user $(id -u)" ]
    [ "$(extent_states | head -n 1)" = "S0000001.TXN full" ]
    chmod 0600 "$file"
    run env -u AWS_ACCESS_KEY_ID -u AWS_SECRET_ACCESS_KEY NSFMEND_S3_CREDENTIALS="$file" \
        LD_LIBRARY_PATH="$AGENT_LIBDIR:$LIBNOTES_DIR" "$AGENT_CLIENT" spool "$STORE" ""
    [ "$(field msg)" = QMR_NSF_SUCCESS ]
    run -0 env -u AWS_ACCESS_KEY_ID -u AWS_SECRET_ACCESS_KEY NSFMEND_S3_CREDENTIALS="$file" \
        "$NSFMEND" OPT=VERIFY IN="$STORE"
    [[ "$output" != *"$secret"* ]]
}
