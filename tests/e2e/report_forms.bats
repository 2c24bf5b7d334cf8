#!/usr/bin/env bats
# OPT=CHECK and OPT=VERIFY in the forms for programs: OUTPUT=json (one
# document on standard output, the text form's findings in it) and
# OUTPUT=nagios (one line and the monitoring convention's exit status), held
# against the text form on the same states.

load helpers
load recovery_helpers
load agent_helpers

setup() {
    new_server
    ARCHIVE="$BATS_TEST_TMPDIR/archive"
}

# nsfmend with no standard input: standard output in $BATS_TEST_TMPDIR/TAG.out,
# standard error in TAG.err, the exit status in STATUS.
run_form() {
    local tag=$1
    shift
    STATUS=0
    "$NSFMEND" "$@" >"$BATS_TEST_TMPDIR/$tag.out" 2>"$BATS_TEST_TMPDIR/$tag.err" </dev/null || STATUS=$?
}

# The text form's finding lines and verdict, as a document gives them; a
# mark of another name shows as "?".
lines_of_document() {
    jq -r '(.findings[] | ({"ok": "ok", "note": "note", "fail": "FAIL"}[.mark] // "?") as $m
               | $m + (" " * (5 - ($m | length))) + .subject + ": " + .text),
           "Verdict: " + .verdict' "$1"
}

# Standard input with the free space a finding quotes written as "N": the
# file system's figure moves between two runs while anything else writes.
steady() { sed -E 's/[0-9]+(\.[0-9]+)? ([KMGTP]iB|bytes) free in /N free in /g'; }

# Fails unless file $1 holds exactly one JSON document.
one_document() {
    [ "$(jq -s length "$1")" = 1 ] || { echo "not one JSON document:" >&2; cat "$1" >&2; return 1; }
}

# The arguments in the text form, with OUTPUT=text and with OUTPUT=json: the
# first two byte for byte alike; the document alone on standard output, its
# findings and verdict the text form's lines in order, its exit status the
# run's, its times RFC 3339 in UTC around the run; the run's own lines on
# standard error. $1 is the command the document must name.
json_says_text() {
    local command=$1 before after
    shift
    run_form text "$@"
    local text_status=$STATUS
    run_form plain "$@" OUTPUT=text
    [ "$STATUS" -eq "$text_status" ]
    cmp <(steady <"$BATS_TEST_TMPDIR/text.out") <(steady <"$BATS_TEST_TMPDIR/plain.out")
    before=$(date -u +%Y-%m-%dT%H:%M:%SZ)
    run_form json "$@" OUTPUT=json
    after=$(date -u +%Y-%m-%dT%H:%M:%SZ)
    local doc="$BATS_TEST_TMPDIR/json.out"
    [ "$STATUS" -eq "$text_status" ]
    one_document "$doc"
    [ "$(jq -r '[.schema, .command, .exit_status] | @tsv' "$doc")" = "1	$command	$text_status" ]
    local started finished
    started=$(jq -r .started "$doc") finished=$(jq -r .finished "$doc")
    [[ $started =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z$ ]]
    [[ ! $started < $before && ! $finished < $started && ! $after < $finished ]]
    local text block
    text=$(steady <"$BATS_TEST_TMPDIR/text.out")
    block=$(lines_of_document "$doc" | steady)
    if [[ "$text"$'\n' != *$'\n'"$block"$'\n'* ]]; then
        printf 'the document says:\n%s\n--- the text form:\n%s\n' "$block" "$text" >&2
        return 1
    fi
    grep -q '^Media Recovery Utility for NSF servers 8.0 or above$' "$BATS_TEST_TMPDIR/json.err"
}

@test "OPT=VERIFY OUTPUT=json says the text form's findings and verdict, clean and faulty" {
    two_archive_runs
    local faulty="$BATS_TEST_TMPDIR/faulty"
    cp -a "$ARCHIVE" "$faulty"
    rm "$faulty/S0000001.TXN"
    flip_byte "$faulty/S0000004.TXN" 60
    cp "$faulty/S0000005.TXN" "$faulty/S0000005.TXN-copy"
    local args
    for args in "IN=$ARCHIVE" "IN=$ARCHIVE OUT=$SERVER/logdir" "IN=$faulty OUT=$SERVER/logdir" \
                "IN=$SERVER/logdir" "IN=$BATS_TEST_TMPDIR/none" ""; do
        # shellcheck disable=SC2086
        json_says_text VERIFY OPT=VERIFY $args
    done
}

@test "OPT=CHECK OUTPUT=json says the text form's findings and verdict, clean and faulty, and when it cannot check" {
    rm -rf "$SERVER"
    mail_story
    local args
    for args in "" "DATETIME=garbage" "IN=$BACKUP" "IN=$BACKUP OUT=$SERVER/mail.nsf" \
                "IN=$BACKUP OUT=$SERVER/gone/mail.nsf"; do
        # shellcheck disable=SC2086
        json_says_text CHECK OPT=CHECK $args
    done
    [ "$(jq -r .checked_run "$BATS_TEST_TMPDIR/json.out")" = restore ]
    # A database that fails alone is an item's FAIL; the others' run goes on.
    head -c 100 "$SERVER/mail.nsf" >"$SERVER/cut.nsf"
    json_says_text CHECK OPT=CHECK
    [ "$(jq -r '[.findings[] | select(.mark == "fail") | .scope] | unique | join(",")' \
         "$BATS_TEST_TMPDIR/json.out")" = item ]
    rm "$SERVER/cut.nsf"
    # A runtime that does not start; a check that would need a change.
    mkdir "$BATS_TEST_TMPDIR/empty"
    NOTES_DATA_DIR="$BATS_TEST_TMPDIR/empty" json_says_text CHECK OPT=CHECK
    [ "$STATUS" -eq 1 ]
    [ "$(jq -r .state "$BATS_TEST_TMPDIR/json.out")" = unknown ]
    echo "TRANSLOG_Recreate_Logctrl=1" >>"$SERVER/notes.ini"
    rm "$SERVER/logdir/nlogctrl.lfh"
    json_says_text CHECK OPT=CHECK
    [ "$STATUS" -eq 2 ]
    [ "$(jq -r .state "$BATS_TEST_TMPDIR/json.out")" = unknown ]
}

@test "arguments that ask for no check give a document that says why, and exit 1" {
    local long
    long=$(printf 'x%.0s' $(seq 1024))
    local args
    for args in "-h" "OPT=VERIFY WARN=soon" "OPT=VERIFY CRIT=-1" "OPT=RESTORE IN=/a OUT=/b" \
                "TEST=ok OPT=CHECK" "OPT=CHECK IN=$long"; do
        # shellcheck disable=SC2086
        run_form json $args OUTPUT=json
        [ "$STATUS" -eq 1 ]
        one_document "$BATS_TEST_TMPDIR/json.out"
        [ "$(jq -r '[.exit_status, .state, .verdict, .findings[0].mark, .findings[0].subject] | @tsv' \
                 "$BATS_TEST_TMPDIR/json.out")" = "1	unknown	nothing was checked	fail	arguments" ]
    done
    # The usage text went to standard error.
    run_form json -h OUTPUT=json
    grep -q '^Usage: nsfmend' "$BATS_TEST_TMPDIR/json.err"
    [ "$(jq -r .findings[0].text "$BATS_TEST_TMPDIR/json.out")" = "-h is no KEY=value argument nsfmend knows" ]
    # A run that ends before its check for a reason of its own still writes one.
    NOTES_DATA_DIR="/$long" run_form json OPT=CHECK OUTPUT=json
    [ "$STATUS" -eq 1 ]
    one_document "$BATS_TEST_TMPDIR/json.out"
    [ "$(jq -r '.findings[0] | .subject + ": " + .text' "$BATS_TEST_TMPDIR/json.out")" = \
        "run: ended before its check; standard error says why" ]
    grep -q "NOTES_DATA_DIR is too long" "$BATS_TEST_TMPDIR/json.err"
}

# Renames the records of $ARCHIVE, oldest first, to the UTC times given in
# seconds since the epoch.
date_records() {
    local record stamp
    for record in $(archive_records "$ARCHIVE"); do
        stamp=$1
        shift
        mv "$ARCHIVE/$record" "$ARCHIVE/nsfmend-archive-$(date -u -d "@$stamp" +%Y%m%dT%H%M%SZ).sha256"
    done
}

@test "OPT=VERIFY OUTPUT=json counts the archive and dates its newest extent by its record, else by the file" {
    two_archive_runs
    local now stamp
    now=$(date +%s)
    stamp=$((now - 7200))
    date_records $((now - 10800)) "$stamp"
    rm "$ARCHIVE"/S000000[236].TXN
    flip_byte "$ARCHIVE/S0000004.TXN" 60
    truncate -s -100 "$ARCHIVE/S0000005.TXN"
    local bytes doc="$BATS_TEST_TMPDIR/json.out"
    bytes=$(stat -c %s "$ARCHIVE"/S*.TXN | awk '{ n += $1 } END { print n }')
    run_form json OPT=VERIFY IN="$ARCHIVE" OUTPUT=json
    [ "$STATUS" -eq 1 ]
    [ "$(jq -c .counts "$doc")" = \
        '{"extents":5,"bytes":'"$bytes"',"missing":3,"size_differs":1,"sha256_differs":1,"gaps":2}' ]
    # What the text form says of the same.
    [ "$(jq -r '.findings[] | select(.subject == "extents") | .text' "$doc")" = \
        "S0000001.TXN to S0000008.TXN, 5 extents there, missing S0000002.TXN to S0000003.TXN, S0000006.TXN" ]
    [ "$(jq -r '.findings[] | select(.subject == "archived file") | .text' "$doc" |
         grep -c 'does not match archive record')" -eq 2 ]
    [ "$(jq -r '.newest_extent | [.number, .name, .archived, .archived_from] | @tsv' "$doc")" = \
        "8	S0000008.TXN	$(date -u -d "@$stamp" +%Y-%m-%dT%H:%M:%SZ)	archive record" ]
    local age
    age=$(jq .newest_extent.age_seconds "$doc")
    [ "$age" -ge 7200 ]
    [ "$age" -le $(($(date +%s) - stamp)) ]

    # Without records: the newest extent's modification time, whatever an
    # older one's says.
    local plain="$BATS_TEST_TMPDIR/plain" newest
    mkdir "$plain"
    cp "$SERVER"/logdir/S*.TXN "$plain/"
    newest=$(cd "$plain" && ls S*.TXN | tail -n 1)
    touch -d "@$((now - 5000))" "$plain/$newest"
    bytes=$(stat -c %s "$plain"/S*.TXN | awk '{ n += $1 } END { print n }')
    run_form json OPT=VERIFY IN="$plain" OUTPUT=json
    [ "$STATUS" -eq 0 ]
    [ "$(jq -r '.newest_extent | [.name, .archived, .archived_from] | @tsv' "$doc")" = \
        "$newest	$(date -u -d "@$((now - 5000))" +%Y-%m-%dT%H:%M:%SZ)	modification time" ]
    [ "$(jq -r '[.counts.bytes, .counts.missing, .counts.gaps] | @tsv' "$doc")" = "$bytes	0	0" ]
}

# nagios_is STATUS PATTERN ARGS...: the run writes one line that matches the
# extended regular expression and ends with that exit status.
nagios_is() {
    local want=$1 pattern=$2
    shift 2
    run_form nagios "$@"
    local out="$BATS_TEST_TMPDIR/nagios.out"
    if [ "$STATUS" -ne "$want" ] || [ "$(wc -l <"$out")" -ne 1 ] || ! grep -qE "$pattern" "$out"; then
        printf 'status %s, want %s; output:\n' "$STATUS" "$want" >&2
        cat "$out" >&2
        return 1
    fi
}

@test "OUTPUT=nagios: one line and every exit status: OK, WARNING, CRITICAL, UNKNOWN" {
    two_archive_runs
    local stale="$BATS_TEST_TMPDIR/stale" lost="$BATS_TEST_TMPDIR/lost" now
    cp -a "$ARCHIVE" "$lost"
    rm "$lost/S0000002.TXN"
    now=$(date +%s)
    cp -a "$ARCHIVE" "$stale"
    ARCHIVE=$stale date_records $((now - 9000)) $((now - 7200))
    local perf='missing=0;;0;0 gaps=0;;0;0 size_differs=0;;0;0 sha256_differs=0;;0;0 extents=8;;;0 bytes=[0-9]+B;;;0'
    nagios_is 0 "^NSFMEND VERIFY OK - the archive would serve a recovery, newest extent S0000008\.TXN archived [0-9]+ s ago \| $perf age=[0-9]+s;21600;86400;0 failures=0;;0;0 notes=0;;;0$" \
        OPT=VERIFY IN="$ARCHIVE" OUT="$SERVER/logdir" OUTPUT=nagios
    nagios_is 0 "^NSFMEND VERIFY OK - .* age=7[2-9][0-9]{2}s;8000;86400;0 " OPT=VERIFY IN="$stale" OUTPUT=nagios WARN=8000
    nagios_is 1 "^NSFMEND VERIFY WARNING - newest extent S0000008\.TXN archived 7[2-9][0-9]{2} s ago, over the warning limit of 3600 s \| $perf age=7[2-9][0-9]{2}s;3600;10800;0 " \
        OPT=VERIFY IN="$stale" OUTPUT=nagios WARN=3600 CRIT=10800
    nagios_is 2 "^NSFMEND VERIFY CRITICAL - newest extent S0000008\.TXN archived 7[2-9][0-9]{2} s ago, over the critical limit of 3600 s \| .* age=7[2-9][0-9]{2}s;60;3600;0 " \
        OPT=VERIFY IN="$stale" OUTPUT=nagios WARN=60 CRIT=3600
    nagios_is 2 "^NSFMEND VERIFY CRITICAL - extents: S0000001\.TXN to S0000008\.TXN, 7 extents there, missing S0000002\.TXN; 1 more failure \| missing=1;;0;0 gaps=1;;0;0 .* failures=2;;0;0 notes=0;;;0$" \
        OPT=VERIFY IN="$lost" OUTPUT=nagios
    write_changes mail.nsf 8 >/dev/null
    nagios_is 2 "^NSFMEND VERIFY CRITICAL - log directory: $SERVER/logdir holds extents the archive lacks: S0000009\.TXN" \
        OPT=VERIFY IN="$ARCHIVE" OUT="$SERVER/logdir" OUTPUT=nagios
    nagios_is 0 "^NSFMEND CHECK OK - the media recovery would proceed \| failures=0;;0;0 notes=[0-9]+;;;0$" \
        OPT=CHECK OUTPUT=nagios
    nagios_is 2 '^NSFMEND CHECK CRITICAL - cut-off time: "garbage" .* \| failures=1;;0;0 ' \
        OPT=CHECK DATETIME=garbage OUTPUT=nagios
    nagios_is 3 '^NSFMEND UNKNOWN - arguments: -h is no KEY=value argument nsfmend knows$' -h OUTPUT=nagios
    nagios_is 3 '^NSFMEND VERIFY UNKNOWN - arguments: The value of WARN= must be a whole number of seconds: 1h$' \
        OPT=VERIFY IN="$ARCHIVE" WARN=1h OUTPUT=nagios
    nagios_is 3 '^NSFMEND RESTORE UNKNOWN - arguments: OUTPUT=nagios is for OPT=CHECK and OPT=VERIFY$' \
        OPT=RESTORE IN=/a OUT=/b OUTPUT=nagios
    mkdir "$BATS_TEST_TMPDIR/empty"
    NOTES_DATA_DIR="$BATS_TEST_TMPDIR/empty" nagios_is 3 "^NSFMEND CHECK UNKNOWN - runtime: did not start with $BATS_TEST_TMPDIR/empty/notes.ini$" \
        OPT=CHECK OUTPUT=nagios
    echo "TRANSLOG_Recreate_Logctrl=1" >>"$SERVER/notes.ini"
    rm "$SERVER/logdir/nlogctrl.lfh"
    nagios_is 3 '^NSFMEND CHECK UNKNOWN - the media recovery cannot be checked without a change \(exit status 2\)$' \
        OPT=CHECK OUTPUT=nagios
}

@test "a path with quotes, backslashes, control bytes and non-ASCII: valid JSON with the text form's text, one nagios line" {
    two_archive_runs
    local weird="$BATS_TEST_TMPDIR/"$'a "quoted" \\back\\slash\ttab\x01ctl\x7fdel \xc3\xa9 \xe6\x97\xa5 pipe|bar\nnewline'
    local invalid="$BATS_TEST_TMPDIR/"$'not UTF-8 \xff\xfe end'
    cp -a "$ARCHIVE" "$weird"
    cp -a "$ARCHIVE" "$invalid"
    local dir doc="$BATS_TEST_TMPDIR/json.out"
    for dir in "$weird" "$invalid"; do
        run_form text OPT=VERIFY IN="$dir"
        run_form json OPT=VERIFY IN="$dir" OUTPUT=json
        [ "$STATUS" -eq 0 ]
        one_document "$doc"
        # Bytes that are not UTF-8 stand as U+FFFD, each; the rest as printed.
        LC_ALL=C sed -i 's/\xff/\xef\xbf\xbd/g; s/\xfe/\xef\xbf\xbd/g' "$BATS_TEST_TMPDIR/text.out"
        local text block
        text=$(cat "$BATS_TEST_TMPDIR/text.out")
        block=$(lines_of_document "$doc")
        [[ "$text"$'\n' == *$'\n'"$block"$'\n'* ]]
        [ "$(jq -r '.findings[0].text' "$doc")" = "$(LC_ALL=C sed 's/\xff/\xef\xbf\xbd/g; s/\xfe/\xef\xbf\xbd/g' <<<"$dir")" ]

        nagios_is 2 "^NSFMEND VERIFY CRITICAL - archive folder: " OPT=VERIFY IN="$dir/none" OUTPUT=nagios
        [ "$(tr -cd '|' <"$BATS_TEST_TMPDIR/nagios.out")" = "|" ]
    done
    nagios_is 2 "" OPT=VERIFY IN="$weird/none" OUTPUT=nagios
    grep -qF $'a "quoted" \\back\\slash?tab?ctl?del \xc3\xa9 \xe6\x97\xa5 pipe?bar?newline/none cannot be listed' \
        "$BATS_TEST_TMPDIR/nagios.out"
}
