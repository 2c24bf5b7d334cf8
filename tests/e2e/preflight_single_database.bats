#!/usr/bin/env bats
# nsfmend OPT=CHECK with IN=: the preflight of a restore (OUT= given) or of a
# recovery of the backup file. It changes nothing, the backup file included;
# when it says the run would proceed the run succeeds, and when it says it
# would fail the run fails for the reason it named.

load helpers
load recovery_helpers

setup() {
    mail_story
    emu server start >/dev/null
}

@test "a restore that would proceed: nothing changed, and the restore then succeeds" {
    local before_server before_backup size
    before_server=$(tree_state "$SERVER")
    before_backup=$(tree_state "${BACKUP%/*}")
    size=$(stat -c %s "$BACKUP")

    # The cut-off is shown back in GMT+0, whatever zone the runtime shows
    # times in.
    TZ=EST5EDT NOTESEMU_CALL_LOG="$BATS_TEST_TMPDIR/calls" \
        run -0 nsfmend OPT=CHECK IN="$BACKUP" OUT="$LIVE" DATETIME="11/15/2013 14:00"
    # The copy needs room for the backup and every extent its recovery reads.
    size=$((size + $(cat "$SERVER"/logdir/S*.TXN | wc -c) + ${#LIVE} + 1))
    [[ $(preflight_lines) =~ ^"Preflight of a restore (nothing is changed):
ok   data directory: $SERVER
ok   log directory: $SERVER/logdir
ok   extents: S0000001.TXN to S0000003.TXN, 3 extents, none missing
note log control file: $SERVER/logdir/nlogctrl.lfh is there; whether its content is sound is the server's to judge
ok   backup file: $BACKUP is a logged database
ok   cut-off time: \"11/15/2013 14:00\" reads as 11/15/2013 14:00:00 GMT+0
ok   restore database: $LIVE is a regular file
ok   restore folder: $SERVER takes the temporary copy
ok   free space: "[0-9.]+" "[KMGTP]iB" free in $SERVER, the copy of the recovered backup file needs $size bytes
ok   run lock: no other run holds $SERVER
note recovery: the server itself decides whether the extents' content is sound, whether the cut-off lies after each database's last change, and whether each database belongs to this server's log
Verdict: the restore would proceed"$ ]] || { preflight_lines >&2; false; }
    [ "$(tree_state "$SERVER")" = "$before_server" ]
    [ "$(tree_state "${BACKUP%/*}")" = "$before_backup" ]
    [ "$(db_field "$LIVE" state)" = online ]
    [ "$(cut -f1 "$BATS_TEST_TMPDIR/calls" | sort -u)" = $'NSFDbClose\nNSFDbOpen' ]
    # The backup file and OUT= are asked, never the data directory's other
    # databases (names.nsf here).
    [ "$(grep '^NSFDbOpen' "$BATS_TEST_TMPDIR/calls" | cut -f2)" = "path=$BACKUP"$'\n'"path=$LIVE" ]

    run -0 nsfmend OPT=RESTORE IN="$BACKUP" OUT="$LIVE" DATETIME="11/15/2013 14:00"
    [ "$(db_notes "$LIVE")" == "$AT_1400" ]
}

@test "a recovery of the backup file alone, from a relative path, with no cut-off" {
    # A backup file's relative name is taken from the working directory,
    # once, and named in full from then on.
    cd "${BACKUP%/*}"
    mv mail.nsf restored.nsf
    run -0 nsfmend OPT=CHECK IN=restored.nsf
    [ "$(preflight_lines)" = "Preflight of a recovery (nothing is changed):
ok   data directory: $SERVER
ok   log directory: $SERVER/logdir
ok   extents: S0000001.TXN to S0000003.TXN, 3 extents, none missing
note log control file: $SERVER/logdir/nlogctrl.lfh is there; whether its content is sound is the server's to judge
ok   backup file: $PWD/restored.nsf is a logged database
note cut-off time: none: the recovery goes to the latest transaction
note run lock: no other run holds $SERVER
note recovery: the server itself decides whether the extents' content is sound, whether the cut-off lies after each database's last change, and whether each database belongs to this server's log
Verdict: the recovery would proceed" ]
    run -0 nsfmend OPT=RECOVER IN=restored.nsf OUT=unused
    [ "$(db_notes "$PWD/restored.nsf")" == "$LATEST" ]
}

@test "a cut-off that cannot be read fails it with the reason the recovery stops at" {
    run -1 nsfmend OPT=CHECK IN="$BACKUP" OUT="$LIVE" DATETIME="13/45/2013 14:00"
    local reason
    reason=$(fail_detail 'cut-off time')
    [[ $reason == '"13/45/2013 14:00" cannot be read, Reason='?* ]]
    run -1 nsfmend OPT=RESTORE IN="$BACKUP" OUT="$LIVE" DATETIME="13/45/2013 14:00"
    assert_output_has " Fail to recover database $BACKUP, Reason=${reason#*Reason=}"$'\n'
}

@test "a symbolic link at OUT= fails it with the restore's own line" {
    ln -s "$LIVE" "$BATS_TEST_TMPDIR/link.nsf"
    run -1 nsfmend OPT=CHECK IN="$BACKUP" OUT="$BATS_TEST_TMPDIR/link.nsf"
    local line
    line=$(fail_detail 'restore database')
    [ "$line" = "Fail to restore database $BATS_TEST_TMPDIR/link.nsf, Reason=Not a regular file (a symbolic link or special file is never replaced)" ]
    refute_output_has "restore folder:"
    run -1 nsfmend OPT=RESTORE IN="$BACKUP" OUT="$BATS_TEST_TMPDIR/link.nsf"
    assert_output_has " $line"$'\n'
}

@test "a live database whose owner this user could not keep fails it with the restore's own line" {
    hand_over_to_nobody
    chown 0:0 "$LIVE"
    chmod 0666 "$LIVE"
    run -1 "${AS_NOBODY[@]}" "$NSFMEND" OPT=CHECK IN="$BACKUP" OUT="$LIVE"
    local line
    line=$(fail_detail 'restore database')
    [ "$line" = "Fail to restore database $LIVE, Reason=The owner of the live database (user 0, group 0) cannot be kept by user 65534; a database is never handed to another user" ]
    run -1 "${AS_NOBODY[@]}" "$NSFMEND" OPT=RESTORE IN="$BACKUP" OUT="$LIVE"
    assert_output_has " $line"$'\n'
    refute_output_has "Taking database"
}

@test "a backup file that is missing or not logged fails it" {
    run -1 nsfmend OPT=CHECK IN="$BATS_TEST_TMPDIR/none.nsf" OUT="$LIVE"
    local reason
    reason=$(fail_detail 'backup file')
    [[ $reason == "Fail to open database $BATS_TEST_TMPDIR/none.nsf, Reason="?* ]]
    run -1 nsfmend OPT=RESTORE IN="$BATS_TEST_TMPDIR/none.nsf" OUT="$LIVE"
    assert_output_has " Fail to recover database $BATS_TEST_TMPDIR/none.nsf, Reason=${reason#*Reason=}"$'\n'

    emu create plain.nsf --unlogged >/dev/null
    emu backup plain.nsf "$BATS_TEST_TMPDIR/plain.nsf" >/dev/null
    run -1 nsfmend OPT=CHECK IN="$BATS_TEST_TMPDIR/plain.nsf"
    [ "$(fail_detail 'backup file')" = "$BATS_TEST_TMPDIR/plain.nsf is not a logged database" ]
    run -1 nsfmend OPT=RECOVER IN="$BATS_TEST_TMPDIR/plain.nsf" OUT=x
    assert_output_has $'\nFAIL backup file: '"$BATS_TEST_TMPDIR/plain.nsf"$' is not a logged database\n'
    refute_output_has "Recovering backup file"
}

@test "a gap in the extents the backup needs fails it, and the recovery" {
    rm "$SERVER/logdir/S0000002.TXN"
    run -1 nsfmend OPT=CHECK IN="$BACKUP" OUT="$LIVE"
    [ "$(fail_detail extents)" = "S0000001.TXN to S0000003.TXN, 2 extents, missing S0000002.TXN" ]
    assert_output_has $'\nVerdict: the restore would fail\n'
    run -1 nsfmend OPT=RESTORE IN="$BACKUP" OUT="$LIVE"
    assert_output_has $'\nFAIL extents: S0000001.TXN to S0000003.TXN, 2 extents, missing S0000002.TXN\n'
    refute_output_has "Taking database"
}

@test "a live database not there yet: a stopped server lets the restore create it, a running one cannot take it offline" {
    local new="$SERVER/new/copy.nsf" line
    cp "$BACKUP" "$BATS_TEST_TMPDIR/backup-before"
    # Running, the server cannot take offline a database it does not have:
    # the restore would stop there, its backup rolled forward already.
    mkdir "$SERVER/new"
    run -1 nsfmend OPT=CHECK IN="$BACKUP" OUT="$new"
    line=" Fail to take database $new offline, Reason=File does not exist"
    assert_output_has $'\nFAIL restore database: '"$new"' is not there yet, and the running server cannot take it offline: the restore would stop there, after rolling the backup file forward;'"$line"$'\n'
    run -1 nsfmend OPT=RESTORE IN="$BACKUP" OUT="$new"
    assert_output_has $'\n'"$line"$'\n'
    refute_output_has "Recovering backup file"
    cmp "$BACKUP" "$BATS_TEST_TMPDIR/backup-before"
    [ ! -e "$new" ]

    # Stopped, no server holds it, so a restore may create it; its folder
    # must take the copy.
    emu server stop >/dev/null
    rmdir "$SERVER/new"
    run -1 nsfmend OPT=CHECK IN="$BACKUP" OUT="$new"
    assert_output_has $'\nnote restore database: '"$new"$' is not there yet; no server holds it, so the restore creates it\n'
    [ "$(fail_detail 'restore folder')" = "$SERVER/new takes no new file, Reason=No such file or directory" ]
    run -1 nsfmend OPT=RESTORE IN="$BACKUP" OUT="$new"

    mkdir "$SERVER/new"
    run -0 nsfmend OPT=CHECK IN="$BACKUP" OUT="$new"
    run -0 nsfmend OPT=RESTORE IN="$BACKUP" OUT="$new"
    cmp "$BACKUP" "$new"
}

@test "archive records in the log directory give the extents' log: a backup of another is refused, an extent grown since is a note" {
    local foreign="$BATS_TEST_TMPDIR/backup/foreign.nsf"
    foreign_database "$foreign"
    # Without records, whose log the extents are is the server's to judge.
    run -0 nsfmend OPT=CHECK IN="$foreign" OUT="$LIVE"
    write_archive_record "$SERVER/logdir"
    # The server logs on after the record was written: its current extent grows.
    emu put mail.nsf 9 "after the record" --at 2013-11-15T17:00:00Z
    run -1 nsfmend OPT=CHECK IN="$foreign" OUT="$LIVE"
    [ "$(fail_detail 'log identity')" = "$foreign belongs to log $(log_id_of "$foreign"); S0000001.TXN, where its recovery starts, is of log $(log_id_of "$LIVE") (archive record $RECORD)" ]
    assert_output_has $'\nnote extent: '"$SERVER/logdir/S0000003.TXN has grown from what archive record $RECORD lists"$'\n'
    cp "$foreign" "$BATS_TEST_TMPDIR/foreign-before"
    run -1 nsfmend OPT=RESTORE IN="$foreign" OUT="$LIVE"
    refute_output_has "Recovering backup file"
    cmp "$foreign" "$BATS_TEST_TMPDIR/foreign-before"
    # The server's own backup passes, the grown extent noted.
    run -0 nsfmend OPT=CHECK IN="$BACKUP" OUT="$LIVE"
    assert_output_has $'\nok   archive records: 1 in '"$SERVER/logdir, 2 extents as recorded (size and SHA-256)"$'\n'
    assert_output_has $'\nnote extent: '"$SERVER/logdir/S0000003.TXN has grown"
    run -0 nsfmend OPT=RESTORE IN="$BACKUP" OUT="$LIVE"
}
