#!/usr/bin/env bats
# Archiving the server's transaction-log extents through the agent library,
# driven by the outside C client.

load helpers
load agent_helpers

setup() {
    new_server
    BACKUP="$BATS_TEST_TMPDIR/backup"
}

@test "with no extent waiting the capture still saves the current extent and the run succeeds" {
    run -0 agent spool "$BACKUP" ""
    [ "$(field msg)" = QMR_NSF_SUCCESS ]
    [[ "$(field stamp)" =~ ^[0-9]{4}(-[0-9]{2}){5}$ ]]
    [ "$(field format)" = "%Y-%m-%d-%H-%M-%S" ]
    [ "$(archived_files "$BACKUP")" = S0000001.TXN ]
    cmp "$SERVER/logdir/S0000001.TXN" "$BACKUP/S0000001.TXN"
    [ "$(extent_states)" = "S0000001.TXN current" ]
}

@test "several full extents are copied, reported archived, and the current one captured" {
    write_changes mail.nsf 11
    agent_ok spool "$BACKUP/" "-full"
    [ "$(archived_files "$BACKUP" | tr '\n' ' ')" = "S0000001.TXN-full S0000002.TXN-full S0000003.TXN-full " ]
    for n in 1 2 3; do cmp "$SERVER/logdir/S000000$n.TXN" "$BACKUP/S000000$n.TXN-full"; done
    [ "$(extent_states | tr '\n' ' ')" = "S0000001.TXN archived S0000002.TXN archived S0000003.TXN current " ]
    [ ! -e "$BACKUP/nlogctrl.lfh-full" ]
}

@test "a destination without a final slash gets one; without a stamp buffer nothing is stamped" {
    write_changes mail.nsf 5
    agent_ok spool "$BACKUP" "" nostamp
    [ "$(field stamp)" = untouched ]
    [ "$(field format)" = untouched ]
    [ -f "$BACKUP/S0000001.TXN" ]
    [ -f "$BACKUP/S0000002.TXN" ]
}

@test "DoArchiveLogs uses the folder exactly as given: suffix first, no slash added" {
    write_changes mail.nsf 5
    agent_answers 0 QMR_NSF_SUCCESS archive x "$BATS_TEST_TMPDIR/flat"
    [ -f "$BATS_TEST_TMPDIR/flatS0000001.TXNx" ]
    [ -f "$BATS_TEST_TMPDIR/flatS0000002.TXNx" ]
}

@test "an archived name holding something else stops the loop, the capture saves the rest, and it stays as it was" {
    write_changes mail.nsf 13
    mkdir -p "$BACKUP"
    echo "an older copy" > "$BACKUP/S0000002.TXN"
    run agent spool "$BACKUP" ""
    # The loop's text names the cause; the capture meets the same name, goes
    # on past it and saves the newer extents, which the server is not told of.
    [ "$(field msg)" = "Error copying file $SERVER/logdir/S0000002.TXN to $BACKUP/S0000002.TXN. File exists" ]
    [ "$(extent_states | tr '\n' ' ')" = "S0000001.TXN archived S0000002.TXN full S0000003.TXN full S0000004.TXN current " ]
    [ "$(cat "$BACKUP/S0000002.TXN")" = "an older copy" ]
    for n in 1 3 4; do cmp "$SERVER/logdir/S000000$n.TXN" "$BACKUP/S000000$n.TXN"; done
    [ -z "$(leftovers "$BACKUP")" ]
    # What was copied is recorded; the foreign file is not.
    run check_records "$BACKUP"
    [ "$output" = $'S0000001.TXN: OK\nS0000003.TXN: OK\nS0000004.TXN: OK' ]
}

@test "a rerun takes identical copies as archived and completes an earlier capture" {
    write_changes mail.nsf 13
    mkdir -p "$BACKUP"
    cp "$SERVER/logdir/S0000001.TXN" "$BACKUP/S0000001.TXN"
    head -c 40 "$SERVER/logdir/S0000002.TXN" > "$BACKUP/S0000002.TXN"
    inode=$(stat -c %i "$BACKUP/S0000001.TXN")
    agent_ok spool "$BACKUP" ""
    [ "$(stat -c %i "$BACKUP/S0000001.TXN")" = "$inode" ]
    for n in 1 2 3 4; do cmp "$SERVER/logdir/S000000$n.TXN" "$BACKUP/S000000$n.TXN"; done
    [ "$(extent_states | tr '\n' ' ')" = "S0000001.TXN archived S0000002.TXN archived S0000003.TXN archived S0000004.TXN current " ]

    # The extent being filled grows; with the same suffix the next run
    # replaces its earlier capture with the longer copy.
    "$NOTESEMU" put mail.nsf 99 "more" >/dev/null
    run ! cmp -s "$SERVER/logdir/S0000004.TXN" "$BACKUP/S0000004.TXN"
    agent_ok spool "$BACKUP" ""
    cmp "$SERVER/logdir/S0000004.TXN" "$BACKUP/S0000004.TXN"
    [ -z "$(leftovers "$BACKUP")" ]
}

@test "leftovers of a stopped run are removed; special files in the log folder are not copied" {
    write_changes mail.nsf 5
    mkdir -p "$BACKUP"
    printf partial > "$BACKUP/.S0000001.TXN.nsfmend-0badc0de"
    printf partial > "$BACKUP/.S0000009.TXN-x.nsfmend-12345678"
    mkfifo "$SERVER/logdir/S0000090.TXN"
    ln -s /dev/zero "$SERVER/logdir/S0000091.TXN"
    run -0 timeout 60 env LD_LIBRARY_PATH="$AGENT_LIBDIR:$LIBNOTES_DIR" "$AGENT_CLIENT" spool "$BACKUP" ""
    [ "$(field msg)" = QMR_NSF_SUCCESS ]
    [ "$(archived_files "$BACKUP" | tr '\n' ' ')" = "S0000001.TXN S0000002.TXN " ]
}

@test "archive style and unknown styles archive; circular, linear and no logging are refused" {
    rm -rf "$SERVER"
    new_server --style 3
    write_changes mail.nsf 5
    agent_ok spool "$BACKUP" ""
    [ -f "$BACKUP/S0000001.TXN" ]

    for style in 0 2; do
        rm -rf "$SERVER" "$BACKUP"
        new_server --style "$style"
        write_changes mail.nsf 5
        agent_answers 1 QMR_NSF_TRANSLOG_STYLE_ARCHIVE archive "" "$BACKUP/"
        [ "$(field stamp)" = untouched ]
        [ ! -e "$BACKUP" ]
    done

    rm -rf "$SERVER"
    new_server --logging off
    agent_says QMR_NSF_TRANSLOG_STYLE_NOT_LOGGED spool "$BACKUP" ""
    [ -z "$(ls "$BACKUP")" ]
}

@test "names and folders too long for their buffers are refused before the server is asked" {
    write_changes mail.nsf 5
    long=$(printf '%01000d' 0)
    agent_says "Destination directory too long (over 1022 characters): /$long/$long" spool "/$long/$long" ""
    agent_answers 1 "Archived name too long (over 1023 characters): $BACKUP/S0000000.TXN$long" archive "$long" "$BACKUP/"
    agent_says "Invalid destination directory: empty" spool "" ""
    [ ! -e "$BACKUP" ]
    [ "$(extent_states | tr '\n' ' ')" = "S0000001.TXN full S0000002.TXN current " ]
}

@test "a destination that cannot be created stops the loop with that cause, not the capture's later failure" {
    write_changes mail.nsf 5
    echo file > "$BATS_TEST_TMPDIR/plain"
    agent_answers 1 "Error creating directory $BATS_TEST_TMPDIR/plain/sub/. Not a directory" archive "" "$BATS_TEST_TMPDIR/plain/sub/"
    [ "$(extent_states | tr '\n' ' ')" = "S0000001.TXN full S0000002.TXN current " ]
}

@test "the capture keeps identical copies, completes earlier ones and never copies the log control file" {
    mkdir -p "$BATS_TEST_TMPDIR/logs" "$BACKUP"
    printf one > "$BATS_TEST_TMPDIR/logs/S0000001.TXN"
    printf two > "$BATS_TEST_TMPDIR/logs/S0000002.TXN"
    printf ctl > "$BATS_TEST_TMPDIR/logs/nlogctrl.lfh"
    printf one > "$BACKUP/S0000001.TXN"
    printf t > "$BACKUP/S0000002.TXN"
    agent_answers 1 untouched capture "$BATS_TEST_TMPDIR/logs" "$BACKUP/" ""
    [ "$(cat "$BACKUP/S0000001.TXN")" = one ]
    [ "$(cat "$BACKUP/S0000002.TXN")" = two ]
    [ ! -e "$BACKUP/nlogctrl.lfh" ]

    rm "$BATS_TEST_TMPDIR/logs"/S*
    agent_answers 0 "No files under transaction log dir: $BATS_TEST_TMPDIR/logs" capture "$BATS_TEST_TMPDIR/logs" "$BACKUP/" ""
    # The text ends with its own line end, then the client's.
    agent capture "$BATS_TEST_TMPDIR/logs" "$BACKUP/" "" > "$BATS_TEST_TMPDIR/out"
    [ "$(tail -c 2 "$BATS_TEST_TMPDIR/out" | od -An -c | tr -d ' ')" = '\n\n' ]
}

# A spool into BACKUP under strace: its renames and syncs in trace, and
# the line where the server records an extent as archived (by replacing its
# control file) in DONE_LINE.
traced_spool() {
    require_strace
    write_changes mail.nsf 5
    mkdir -p "$BACKUP"
    "$@"
    run strace -f -y -e trace=fsync,rename,renameat,renameat2 -o "$BATS_TEST_TMPDIR/trace" \
        env LD_LIBRARY_PATH="$AGENT_LIBDIR:$LIBNOTES_DIR" "$AGENT_CLIENT" spool "$BACKUP" ""
    [ "$(field msg)" = QMR_NSF_SUCCESS ]
    DONE_LINE=$(grep -n 'rename.*nlogctrl' "$BATS_TEST_TMPDIR/trace" | head -n 1 | cut -d: -f1)
}

@test "every copy and its folder entry are synced before the extent is reported archived" {
    traced_spool
    # The copy is synced under its hidden name, renamed, then the folder synced.
    file_sync=$(grep -n "fsync([0-9]*<$BACKUP/\.S0000001\.TXN\.nsfmend-[0-9a-f]*>)" "$BATS_TEST_TMPDIR/trace" | tail -n 1 | cut -d: -f1)
    placed=$(grep -n "renameat2(.*\"\.S0000001\.TXN\.nsfmend-[0-9a-f]*\", .*\"S0000001\.TXN\", RENAME_NOREPLACE) = 0" "$BATS_TEST_TMPDIR/trace" | head -n 1 | cut -d: -f1)
    dir_sync=$(awk -v from="$placed" 'NR > from && index($0, "fsync") && index($0, "<'"$BACKUP"'>)") { print NR; exit }' "$BATS_TEST_TMPDIR/trace")
    in_order "$file_sync" "$placed" "$dir_sync" "$DONE_LINE"
}

@test "an identical copy already in the archive is synced, with its folder entry, before the extent counts" {
    # Left by a run stopped after its copy, perhaps before it reached the disk.
    keep_copy() {
        cp "$SERVER/logdir/S0000001.TXN" "$BACKUP/S0000001.TXN"
        inode=$(stat -c %i "$BACKUP/S0000001.TXN")
    }
    traced_spool keep_copy
    [ "$(stat -c %i "$BACKUP/S0000001.TXN")" = "$inode" ]
    [ "$(extent_states | head -n 1)" = "S0000001.TXN archived" ]
    # The copy itself is synced under its own name, then the folder.
    file_sync=$(grep -n "fsync([0-9]*<$BACKUP/S0000001\.TXN>)" "$BATS_TEST_TMPDIR/trace" | head -n 1 | cut -d: -f1)
    dir_sync=$(awk -v from="$file_sync" 'NR > from && index($0, "fsync") && index($0, "<'"$BACKUP"'>)") { print NR; exit }' "$BATS_TEST_TMPDIR/trace")
    in_order "$file_sync" "$dir_sync" "$DONE_LINE"
}
