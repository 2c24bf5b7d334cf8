#!/usr/bin/env bats
# OPT=RESTORE: recover the backup, take the live database offline, copy the
# recovered file over it, bring it online; every failure line of that order.

load helpers
load recovery_helpers

setup() { mail_story; }

@test "restore with the server running: offline, copy, online, the state at the cut-off, the name taken whole by rename" {
    emu server start >/dev/null
    emu put mail.nsf 9 "damage" --user "Bad Actor" --at 2013-11-15T18:00:00Z
    local inode_before
    inode_before=$(stat -c %i "$LIVE")
    run -0 nsfmend OPT=RESTORE IN="$BACKUP" OUT="$LIVE" DATETIME="11/15/2013 14:00"
    assert_output_has $'\n\n Recovering backup file '"$BACKUP"$'...\n Recover '"$BACKUP"' transactions till transaction in '
    assert_output_has $' Taking database '"$LIVE"$' offline ...\n Restoring database '"$LIVE"$' \n  from recovered backup file '"$BACKUP"$' ...\n Bringing database '"$LIVE"$' online ...\n'
    refute_output_has "Fail to"
    [ "$(db_notes "$LIVE")" == "$AT_1400" ]
    [ "$(db_field "$LIVE" state)" == online ]
    cmp "$BACKUP" "$LIVE"
    [ "$(stat -c %i "$LIVE")" != "$inode_before" ]
    [ -z "$(leftovers "$SERVER")" ]
}

@test "restore with the server stopped goes on after 5113 and brings nothing online" {
    emu server stop >/dev/null || true
    run -0 nsfmend OPT=RESTORE IN="$BACKUP" OUT="$LIVE"
    # The whole sequence: no bringing-online line between the copy and the stop.
    assert_output_has $'\n\n Recovering backup file '"$BACKUP"$'...\n Recover '"$BACKUP"$' till latest transaction\n Taking database '"$LIVE"$' offline ...\n Fail to take database '"$LIVE"$' offline, Reason=Database is not in use by a running server\n Restoring database '"$LIVE"$' \n  from recovered backup file '"$BACKUP"$' ...\n\n\nTerminate...'
    [ "$(db_notes "$LIVE")" == "$LATEST" ]
    cmp "$BACKUP" "$LIVE"
}

@test "the restored database keeps the live file's owner, group and mode and takes the backup's times" {
    [ "$(id -u)" -eq 0 ] || skip "only root can give the files the owners this needs"
    # A backup open to everyone, of another user, over a database only its
    # owner may read.
    chown 65534:65534 "$BACKUP"
    chmod 0666 "$BACKUP"
    chown 4321:4322 "$LIVE"
    chmod 0600 "$LIVE"
    emu server start >/dev/null
    run -0 nsfmend OPT=RESTORE IN="$BACKUP" OUT="$LIVE"
    cmp "$BACKUP" "$LIVE"
    [ "$(stat -c '%a %u %g' "$LIVE")" == "600 4321 4322" ]
    [ "$(stat -c %Y "$LIVE")" == "$(stat -c %Y "$BACKUP")" ]

    # Readable by every user before stays so; nothing more.
    chmod 0644 "$LIVE"
    chmod 0640 "$BACKUP"
    run -0 nsfmend OPT=RESTORE IN="$BACKUP" OUT="$LIVE"
    [ "$(stat -c '%a %u %g' "$LIVE")" == "644 4321 4322" ]
}

@test "a new database takes the backup's mode without write access its folders do not give" {
    chmod 0666 "$BACKUP"
    chmod 0755 "$SERVER" "${BACKUP%/*}"
    run -0 nsfmend OPT=RESTORE IN="$BACKUP" OUT="$SERVER/new.nsf"
    cmp "$BACKUP" "$SERVER/new.nsf"
    [ "$(stat -c '%a %u %g %Y' "$SERVER/new.nsf")" == "$(stat -c '644 %u %g %Y' "$BACKUP")" ]
}

@test "a restore by an unprivileged user keeps the live database's mode" {
    hand_over_to_nobody
    chmod 0644 "$BACKUP"
    chmod 0600 "$LIVE"
    emu server start >/dev/null
    run -0 "${AS_NOBODY[@]}" "$NSFMEND" OPT=RESTORE IN="$BACKUP" OUT="$LIVE"
    cmp "$BACKUP" "$LIVE"
    [ "$(stat -c '%a %u %g' "$LIVE")" == "600 65534 65534" ]
}

@test "a database of another owner is refused before it is taken offline, never handed over" {
    hand_over_to_nobody
    # The folder lets user 65534 replace the file, and the file lets it
    # write: only the owner could not be kept.
    chown 0:0 "$LIVE"
    chmod 0666 "$LIVE"
    serve_and_keep
    run -1 "${AS_NOBODY[@]}" "$NSFMEND" OPT=RESTORE IN="$BACKUP" OUT="$LIVE"
    assert_output_has " Fail to restore database $LIVE, Reason=The owner of the live database (user 0, group 0) cannot be kept by user 65534; a database is never handed to another user"
    refute_output_has "Recovering backup file"
    refute_output_has "Taking database"
    cmp "$LIVE" "$BATS_TEST_TMPDIR/live-before"
    cmp "$BACKUP" "$BATS_TEST_TMPDIR/backup-before"
    [ "$(stat -c '%a %u %g' "$LIVE")" == "666 0 0" ]
    [ "$(db_field "$LIVE" state)" == online ]
    [ -z "$(leftovers "$SERVER")" ]
}

@test "a failed recovery, or an offline step failing for another reason, stops the restore before the live database is touched" {
    serve_and_keep
    local fail line next
    while IFS='|' read -r fail line next; do
        echo "# NOTESEMU_FAIL=$fail"
        NOTESEMU_FAIL=$fail run -1 nsfmend OPT=RESTORE IN="$BACKUP" OUT="$LIVE"
        assert_output_has "$line"
        refute_output_has "$next"
        cmp "$LIVE" "$BATS_TEST_TMPDIR/live-before"
        [ "$(db_field "$LIVE" state)" == online ]
    done <<TABLE
NSFRecoverDatabases=272| Fail to recover database $BACKUP, Reason=|Taking database
NSFTakeDatabaseOffline=4001| Fail to take database $LIVE offline, Reason=error_code=4001|Restoring database
TABLE
}

@test "a copy that fails leaves the live database as it was and brings it back online" {
    require_faultshim
    serve_and_keep
    # The disk fills up at the copy's first write.
    FAULTSHIM_CALLS=copy_file_range FAULTSHIM_AT=1 FAULTSHIM_ACTION=enospc \
        run -1 with_faults nsfmend OPT=RESTORE IN="$BACKUP" OUT="$LIVE"
    assert_output_has " Restoring database $LIVE 
  from recovered backup file $BACKUP ...
 Fail to restore database $LIVE, Reason=No space left on device
 Bringing database $LIVE online ...
"
    refute_output_has "Fail to bring"
    cmp "$LIVE" "$BATS_TEST_TMPDIR/live-before"
    [ "$(db_field "$LIVE" state)" == online ]
    [ -z "$(leftovers "$SERVER")" ]
}

@test "a link, folder or FIFO at OUT= is refused before anything is changed" {
    serve_and_keep
    echo "root's own file" >"$BATS_TEST_TMPDIR/target"
    ln -s "$BATS_TEST_TMPDIR/target" "$SERVER/link.nsf"
    ln -s "$LIVE" "$SERVER/alias.nsf"
    mkdir "$SERVER/folder.nsf"
    mkfifo "$SERVER/fifo.nsf"
    for out in link alias folder fifo; do
        run -1 nsfmend OPT=RESTORE IN="$BACKUP" OUT="$SERVER/$out.nsf"
        assert_output_has " Fail to restore database $SERVER/$out.nsf, Reason=Not a regular file (a symbolic link or special file is never replaced)"
        refute_output_has "Recovering backup file"
    done
    cmp "$BACKUP" "$BATS_TEST_TMPDIR/backup-before"
    [ "$(cat "$BATS_TEST_TMPDIR/target")" == "root's own file" ]
    [ -L "$SERVER/link.nsf" ]
    [ -L "$SERVER/alias.nsf" ]
    [ -p "$SERVER/fifo.nsf" ]
    [ "$(db_field "$LIVE" state)" == online ]
}

@test "anything but a file at the offline mark's name stops the restore with a line that names the mark" {
    emu server start >/dev/null
    cp "$BACKUP" "$BATS_TEST_TMPDIR/backup-before"
    local mark="$SERVER/.mail.nsf.nsfmend-offline" kind line
    line=" Fail to restore database $LIVE, Reason=The offline mark $mark is not a regular file (a symbolic link, folder or special file there is never written through)"
    for kind in link folder fifo; do
        case $kind in
            link) ln -s "$BATS_TEST_TMPDIR/elsewhere" "$mark" ;;
            folder) mkdir "$mark" ;;
            fifo) mkfifo "$mark" ;;
        esac
        run -1 nsfmend OPT=CHECK IN="$BACKUP" OUT="$LIVE"
        [ "$(fail_detail 'offline mark')" = "${line# }" ]
        run -1 nsfmend OPT=RESTORE IN="$BACKUP" OUT="$LIVE"
        assert_output_has $'\n'"$line"$'\n'
        refute_output_has "Recovering backup file"
        rm -rf "$mark"
    done
    cmp "$BACKUP" "$BATS_TEST_TMPDIR/backup-before"
    [ ! -e "$BATS_TEST_TMPDIR/elsewhere" ]
    [ "$(db_field "$LIVE" state)" == online ]
}

@test "the restored file and its folder entry are synced before the database goes online" {
    require_strace
    emu server start >/dev/null
    local name=${LIVE##*/} trace="$BATS_TEST_TMPDIR/trace"
    # LeakSanitizer cannot run under a tracer; the other tests check leaks.
    ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
        run -0 strace -f -y -e trace=fsync,rename,renameat,renameat2 -o "$trace" \
        "$NSFMEND" OPT=RESTORE IN="$BACKUP" OUT="$LIVE"
    # The copy is synced under its hidden name, renamed over the live one, the
    # folder synced; only then does the server's state say online again.
    file_sync=$(grep -n "fsync([0-9]*<$SERVER/\.$name\.nsfmend-[0-9a-f]*>)" "$trace" | tail -n 1 | cut -d: -f1)
    placed=$(grep -n "renameat(.*\"\.$name\.nsfmend-[0-9a-f]*\", .*\"$name\") = 0" "$trace" | head -n 1 | cut -d: -f1)
    dir_sync=$(awk -v from="$placed" 'NR > from && index($0, "fsync") && index($0, "<'"$SERVER"'>)") { print NR; exit }' "$trace")
    online=$(awk -v from="$placed" 'NR > from && index($0, "rename") && index($0, ".notesemu-server") { print NR; exit }' "$trace")
    in_order "$file_sync" "$placed" "$dir_sync" "$online"
    [ "$(db_field "$LIVE" state)" == online ]
}

# With the server running, a restore killed at its copy's rename (the first
# rename placed the offline mark): the database is offline, its file still
# the old one, kept in live-before.
stop_restore_while_offline() {
    serve_and_keep
    FAULTSHIM_CALLS=renameat FAULTSHIM_AT=2 run -137 with_faults nsfmend OPT=RESTORE IN="$BACKUP" OUT="$LIVE"
    [ "$(db_field "$LIVE" state)" == offline ]
    cmp "$LIVE" "$BATS_TEST_TMPDIR/live-before"
}

# An administrator's own online and offline after the stopped restore: the
# mark cannot tell that offline from the restore's, and the run says what
# it does.
@test "a restore stopped while the database is offline is taken over by the next one, after an administrator's offline too" {
    require_faultshim
    local by_hand
    for by_hand in no yes; do
        stop_restore_while_offline
        [ "$(leftovers "$SERVER" | wc -l)" -eq 2 ]   # the copy and the offline mark
        [ $by_hand = no ] || { emu online mail.nsf && emu offline mail.nsf; }
        run -0 nsfmend OPT=RESTORE IN="$BACKUP" OUT="$LIVE"
        assert_output_has " Taking database $LIVE offline ...
 Database $LIVE was left offline by an interrupted restore: brought online and taken offline again
 Restoring database $LIVE "
        refute_output_has "Fail to"
        cmp "$BACKUP" "$LIVE"
        [ "$(db_field "$LIVE" state)" == online ]
        [ -z "$(leftovers "$SERVER")" ]
    done
}

@test "under umask 000 the offline mark, the copy and the run lock open the database to no one new" {
    require_faultshim
    chmod 0700 "$SERVER"
    chmod 0640 "$LIVE"
    umask 000
    # Stopped at the copy's rename: the mark and the finished copy are there.
    stop_restore_while_offline
    [ "$(stat -c %a "$SERVER/.mail.nsf.nsfmend-offline")" == 600 ]
    local copy
    copy=$(leftovers "$SERVER" | grep -v -- -offline)
    [ "$(stat -c %a "$SERVER/$copy")" == 640 ]
    [ "$(stat -c %a "$SERVER/.nsfmend.lock")" == 600 ]
}

@test "a database some other tool took offline is not taken over" {
    require_faultshim
    stop_restore_while_offline
    # Offline without a restore's mark: as another tool would leave it.
    rm "$SERVER/.mail.nsf.nsfmend-offline"
    run -1 nsfmend OPT=RESTORE IN="$BACKUP" OUT="$LIVE"
    assert_output_has " Fail to take database $LIVE offline, Reason=Database is already offline"
    refute_output_has "Restoring database"
    cmp "$LIVE" "$BATS_TEST_TMPDIR/live-before"
    [ "$(db_field "$LIVE" state)" == offline ]
    # It set no mark of its own (the stopped run's copy waits for the next copy).
    [ ! -e "$SERVER/.mail.nsf.nsfmend-offline" ]
}

@test "bringing the database online fails: the failure line and exit status 1" {
    emu server start >/dev/null
    NOTESEMU_FAIL="NSFBringDatabaseOnline=4002" run -1 nsfmend OPT=RESTORE IN="$BACKUP" OUT="$LIVE"
    assert_output_has " Bringing database $LIVE online ...
 Fail to bring database $LIVE online, Reason=error_code=4002"
    [ "$(db_notes "$LIVE")" == "$LATEST" ]
    # Left offline: the mark tells the next restore whose offline it is.
    [ "$(leftovers "$SERVER")" == .mail.nsf.nsfmend-offline ]
}

@test "RECOVER and NOTE with OUT= never touch the live database" {
    serve_and_keep
    for op in RECOVER NOTE; do
        cp "$BATS_TEST_TMPDIR/backup/mail.nsf" "$BATS_TEST_TMPDIR/b-$op.nsf"
        run -0 nsfmend OPT=$op IN="$BATS_TEST_TMPDIR/b-$op.nsf" OUT="$LIVE"
        refute_output_has "Taking database"
        cmp "$LIVE" "$BATS_TEST_TMPDIR/live-before"
    done
}

@test "a database of over 4 GiB is recovered and restored in either build" {
    emu create big.nsf >/dev/null
    emu put big.nsf 1 "before the backup" --at 2013-11-15T10:00:00Z
    emu pad big.nsf 5G
    local backup="$BATS_TEST_TMPDIR/backup/big.nsf" live="$SERVER/big.nsf"
    emu backup big.nsf "$backup"
    emu put big.nsf 1 "after the backup" --at 2013-11-15T17:00:00Z
    local latest
    latest=$(db_notes big.nsf)
    emu server start >/dev/null
    run -0 nsfmend OPT=RESTORE IN="$backup" OUT="$live"
    refute_output_has "Fail to"
    [ "$(db_notes "$live")" == "$latest" ]
    [ "$(db_field "$live" state)" == online ]
    [ "$(stat -c %s "$live")" -ge $((5 << 30)) ]
    [ "$(stat -c %s "$live")" == "$(stat -c %s "$backup")" ]
}
