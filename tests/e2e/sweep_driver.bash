#!/bin/bash
# The interruption sweep's driver, run by interruption_sweep.bats once per
# operation: restore, media-recovery, archive, archive-store or fetch. A plain script rather than
# bats code: its loop runs thousands of commands, which bats' per-command
# hooks would slow down tenfold.
#
# Needs the variables CTest gives the end-to-end tests, and AGENT_CLIENT and
# AGENT_LIBDIR for the archive and the fetch. Prints one summary line and exits 0, or
# prints the failed check with its context and exits 1.
set -eEuo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=helpers.bash
. "$here/helpers.bash"
# shellcheck source=recovery_helpers.bash
. "$here/recovery_helpers.bash"
# shellcheck source=agent_helpers.bash
. "$here/agent_helpers.bash"

operation=${1:?usage: sweep_driver.bash restore|media-recovery|archive|archive-store|fetch}

# Hundreds of runs, each syncing its files: in memory when the machine has a
# tmpfs, where a sync costs nothing and the order of calls is the same as on
# a disk.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    BATS_TEST_TMPDIR=$(mktemp -d /dev/shm/nsfmend-sweep.XXXXXX)
else
    BATS_TEST_TMPDIR=$(mktemp -d "${TMPDIR:-/tmp}/nsfmend-sweep.XXXXXX")
fi
trap 'rm -rf "$BATS_TEST_TMPDIR"' EXIT
TEMPLATE="$BATS_TEST_TMPDIR/template"
REPORT="$BATS_TEST_TMPDIR/shim-report"
K=0 ACTION=none RUN_STATUS=0 RUN_OUT= STEP="setting up"

# A failed check names itself, the point of the sweep and what the run said.
trap 'printf "check failed (line %s): %s\n%s: call %s (%s), exit %s\n%s\n" "$LINENO" "$BASH_COMMAND" "$STEP" "$K" "$ACTION" "$RUN_STATUS" "$RUN_OUT"; exit 1' ERR

# Every call that opens, reads, writes, syncs, renames, links, removes or
# closes; lseek only moves an offset, so stopping there is the same as
# stopping at the next call.
export FAULTSHIM_CALLS=open,open64,openat,openat64,creat,creat64,read,write,pread,pread64,pwrite,pwrite64,copy_file_range,fsync,fdatasync,close,rename,renameat,renameat2,link,linkat,unlink,unlinkat,remove,rmdir,mkdir,mkdirat,ftruncate,ftruncate64,fchmod,fchown,futimens,flock

# Saves the named folders of the test as they are now (a missing one stays
# missing); restore_state puts them back exactly (the server's state file holds absolute paths, so the
# folders keep their places).
save_state() {
    SAVED=("$@")
    rm -rf "$TEMPLATE"
    mkdir -p "$TEMPLATE"
    local folder
    for folder in "${SAVED[@]}"; do
        [ ! -e "$BATS_TEST_TMPDIR/$folder" ] || cp -a "$BATS_TEST_TMPDIR/$folder" "$TEMPLATE/"
    done
}
restore_state() {
    local folder
    for folder in "${SAVED[@]}"; do
        rm -rf "${BATS_TEST_TMPDIR:?}/$folder"
        [ ! -e "$TEMPLATE/$folder" ] || cp -a "$TEMPLATE/$folder" "$BATS_TEST_TMPDIR/"
    done
    # What is not in a folder (a store's bucket) is made anew by the sweep's own step.
    [ -z "${ON_RESTORE:-}" ] || "$ON_RESTORE"
}

# Runs the operation $OP with the shim acting at call $1 with action $2.
# Sets RUN_STATUS, RUN_OUT and HIT ("N NAME" of the call acted on; empty
# when the run made fewer calls and got through untouched).
run_faulted() {
    rm -f "$REPORT"
    RUN_STATUS=0
    RUN_OUT=$(FAULTSHIM_AT=$1 FAULTSHIM_ACTION=$2 FAULTSHIM_REPORT="$REPORT" \
        LD_PRELOAD="$FAULTSHIM" "$OP" 2>&1) || RUN_STATUS=$?
    HIT=$(sed -n 's/^hit //p' "$REPORT" 2>/dev/null || true)
}
run_plain() {
    RUN_STATUS=0
    RUN_OUT=$("$OP" 2>&1) || RUN_STATUS=$?
}

# Sweeps $OP: for each point restore_state, run_faulted, then the
# operation's checks: check_interrupted, a rerun and check_done, a second
# rerun and check_unchanged. Writes the summary line for $1.
sweep() {
    local what=$1 mode points=0
    K=0
    for mode in ${SWEEP_MODES:-kill fail}; do
        for ((K = 1; ; K++)); do
            restore_state
            ACTION=$mode
            [ "$mode" = kill ] || { ((K % 2)) && ACTION=eio || ACTION=enospc; }
            run_faulted "$K" "$ACTION"
            if [ -z "$HIT" ]; then
                STEP="uninterrupted run"
                [ "$RUN_STATUS" -eq 0 ]
                check_done
                break
            fi
            STEP="interrupted at $HIT"
            if [ "$mode" = kill ]; then [ "$RUN_STATUS" -eq 137 ]; fi
            check_interrupted
            run_plain
            STEP="first rerun after $HIT"
            [ "$RUN_STATUS" -eq 0 ]
            check_done
            snapshot_result
            run_plain
            STEP="second rerun after $HIT"
            [ "$RUN_STATUS" -eq 0 ]
            check_done
            check_unchanged
            points=$((points + 1))
        done
    done
    local modes=(${SWEEP_MODES:-kill fail})
    if [ "${#modes[@]}" -eq 2 ]; then
        printf 'interruption sweep: %s: %d calls each stopped and failed (%d interruptions, each rerun twice)\n' \
            "$what" $((points / 2)) "$points"
    else
        printf 'interruption sweep: %s: %d calls each stopped (each rerun twice)\n' "$what" "$points"
    fi
}

# --- A restore over a live database ------------------------------------

op_restore() {
    "$NSFMEND" OPT=RESTORE IN="$BACKUP" OUT="$LIVE" </dev/null
}

sweep_restore() {
    mail_story
    # Grown past what the backup and the log give back: the restore's new
    # file is then another than the old one, and each check can tell them apart.
    emu pad mail.nsf 1M
    emu server start >/dev/null
    save_state notesdata backup
    OLD_LIVE="$BATS_TEST_TMPDIR/old-live"
    NEW_LIVE="$BATS_TEST_TMPDIR/new-live"
    cp "$LIVE" "$OLD_LIVE"
    OP=op_restore
    run_plain
    [ "$RUN_STATUS" -eq 0 ]
    cp "$LIVE" "$NEW_LIVE"
    if cmp -s "$OLD_LIVE" "$NEW_LIVE"; then
        echo "the restore left the live database as it was" >&2
        return 1
    fi

    check_interrupted() {
        cmp -s "$LIVE" "$OLD_LIVE" || cmp -s "$LIVE" "$NEW_LIVE"
        if [ "$RUN_STATUS" -eq 0 ]; then
            cmp "$LIVE" "$NEW_LIVE"
            [ "$(db_field "$LIVE" state)" = online ]
        fi
    }
    check_done() {
        cmp "$LIVE" "$NEW_LIVE"
        [ "$(db_field "$LIVE" state)" = online ]
        [[ $RUN_OUT != *"Fail to"* ]]
        [ -z "$(leftovers "$SERVER")" ]
    }
    snapshot_result() { :; }
    check_unchanged() {
        [[ $RUN_OUT != *"left offline by an interrupted restore"* ]]
    }
    sweep "restore over a live database"
}

# --- The notes.ini reset and media recovery ----------------------------

op_media_recovery() {
    "$NSFMEND" <<<Y
}

# Every database of the data folder with its bytes, and notes.ini's.
media_state() {
    (cd "$SERVER" && sha256sum notes.ini mail/*.nsf names.nsf local.box)
}

sweep_media_recovery() {
    new_server
    mkdir -p "$SERVER/mail"
    emu create mail/ann.nsf >/dev/null
    emu create local.box --unlogged >/dev/null
    emu put mail/ann.nsf 1 "one" --at 2013-11-15T11:00:00Z
    emu put local.box 1 "kept" --at 2013-11-15T11:00:00Z
    emu rollover >/dev/null
    cp -a "$SERVER" "$BATS_TEST_TMPDIR/nightly"
    emu put mail/ann.nsf 2 "two" --at 2013-11-15T12:00:00Z
    emu put names.nsf 3 "three" --at 2013-11-15T12:30:00Z
    emu rollover >/dev/null
    emu put mail/ann.nsf 1 "one, edited" --at 2013-11-15T13:00:00Z
    # The data folder is lost and comes back from the backup, with the
    # extents written since.
    cp -a "$SERVER/logdir" "$BATS_TEST_TMPDIR/logs"
    rm -rf "$SERVER"
    mv "$BATS_TEST_TMPDIR/nightly" "$SERVER"
    cp "$BATS_TEST_TMPDIR"/logs/*.TXN "$SERVER/logdir/"
    save_state notesdata
    OLD_STATE=$(media_state)

    OP=op_media_recovery
    run_plain
    [ "$RUN_STATUS" -eq 0 ]
    NEW_STATE=$(media_state)
    [ "$NEW_STATE" != "$OLD_STATE" ]
    db_notes mail/ann.nsf | grep -q 'one, edited'

    # Each file on its own old or new: notes.ini and every database.
    check_interrupted() {
        local line
        while read -r line; do
            grep -qxF "$line" <<<"$OLD_STATE" || grep -qxF "$line" <<<"$NEW_STATE"
        done <<<"$(media_state)"
        if [ "$RUN_STATUS" -eq 0 ]; then [ "$(media_state)" = "$NEW_STATE" ]; fi
    }
    check_done() {
        [ "$(media_state)" = "$NEW_STATE" ]
        [[ $RUN_OUT != *"Fail to"* ]]
        [ -z "$(leftovers "$SERVER")" ]
    }
    snapshot_result() { :; }
    check_unchanged() { [ "$(media_state)" = "$NEW_STATE" ]; }
    sweep "notes.ini reset and media recovery"
}

# --- Archiving: full extents and the one being filled ------------------

op_archive() {
    LD_LIBRARY_PATH="$AGENT_LIBDIR:$LIBNOTES_DIR" "$AGENT_CLIENT" spool "$BACKUP" ""
}

archive_listing() { (cd "$BACKUP" 2>/dev/null && ls -iA --full-time); }
# The checksums of the archived copies (names beginning with S), or of the
# log folder's extents, one "SUM  NAME" a line.
copy_sums() { (cd "$1" 2>/dev/null && sha256sum S* 2>/dev/null || true); }

# Every copy of an extent in folder $1 is the whole extent (a line of
# EXTENT_SUMS), and every record there is whole and true to the copies.
copies_whole() {
    local line record
    while read -r line; do
        [ -z "$line" ] || grep -qxF "$line" <<<"$EXTENT_SUMS"
    done <<<"$(copy_sums "$1")"
    for record in $(archive_records "$1"); do
        (cd "$1" && sha256sum -c --strict --quiet "$record")
    done
}

# The checks of an archive (a folder, or a store's objects brought down to
# one) after an archiving run was stopped: nothing under a final name is
# anything but the whole extent, every record there is whole and true to
# the copies, and what the server was told is archived has its copy and a
# record naming it.
archive_interrupted() {
    local dir=$1 name
    copies_whole "$dir"
    for name in $(extent_states | while read -r n state; do
        [ "$state" != archived ] || echo "$n"; done); do
        [ -e "$dir/$name" ]
        records_in_force "$dir" | grep -q "  $name\$"
    done
    if [[ $RUN_OUT == *msg=QMR_NSF_SUCCESS* ]]; then check_done; fi
}
# ... and after a run that got through: every extent archived and recorded,
# in one record or two (when a stopped run had written one already).
archive_done() {
    local dir=$1
    [[ $RUN_OUT == *msg=QMR_NSF_SUCCESS* ]]
    [ "$(extent_states)" = "$ARCHIVED" ]
    [ "$(copy_sums "$dir")" = "$EXTENT_SUMS" ]
    [ -n "$(archive_records "$dir")" ]
    [ "$(records_in_force "$dir")" = "$EXTENT_SUMS" ]
}

sweep_archive() {
    new_server
    # The smallest run that reaches every path: one extent the server hands
    # out (the first and the last offered, the record made and updated),
    # then one it is still filling (the capture, the record written again).
    write_changes mail.nsf 5   # extent 1 full, 2 being filled
    BACKUP="$BATS_TEST_TMPDIR/backup"
    save_state notesdata backup
    EXTENT_SUMS=$(copy_sums "$SERVER/logdir")
    ARCHIVED=$'S0000001.TXN archived\nS0000002.TXN current'

    check_interrupted() { archive_interrupted "$BACKUP"; }
    check_done() {
        archive_done "$BACKUP"
        [ "$(archived_files "$BACKUP")" = $'S0000001.TXN\nS0000002.TXN' ]
    }
    snapshot_result() { LISTING=$(archive_listing); }
    check_unchanged() { [ "$(archive_listing)" = "$LISTING" ]; }
    OP=op_archive
    sweep "archive run (1 full extent, 1 half-filled)"
}

# --- Archiving to an object store ---------------------------------------

op_archive_store() {
    LD_LIBRARY_PATH="$AGENT_LIBDIR:$LIBNOTES_DIR" "$AGENT_CLIENT" spool "$STORE" ""
}

# The store's objects under the prefix, brought down afresh.
store_folder() {
    rm -rf "$BATS_TEST_TMPDIR/store-copy"
    store_to_folder "$BUCKET" logs/ "$BATS_TEST_TMPDIR/store-copy"
    echo "$BATS_TEST_TMPDIR/store-copy"
}

sweep_archive_store() {
    # shellcheck source=store_helpers.bash
    . "$here/store_helpers.bash"
    BATS_FILE_TMPDIR=$BATS_TEST_TMPDIR
    start_swift_store
    trap 'stop_swift_store; rm -rf "$BATS_TEST_TMPDIR"' EXIT
    [ -z "${SWIFT_STORE_SKIP:-}" ] || { echo "interruption sweep: archive to a store: skipped, $SWIFT_STORE_SKIP"; return 0; }
    new_server
    write_changes mail.nsf 5   # extent 1 full, 2 being filled
    save_state notesdata
    EXTENT_SUMS=$(copy_sums "$SERVER/logdir")
    ARCHIVED=$'S0000001.TXN archived\nS0000002.TXN current'
    # Each point archives into a bucket of its own, empty.
    ON_RESTORE=new_bucket

    check_interrupted() { archive_interrupted "$(store_folder)"; }
    check_done() { archive_done "$(store_folder)"; }
    snapshot_result() { LISTING=$(s3_list "$BUCKET" logs/); }
    check_unchanged() { [ "$(s3_list "$BUCKET" logs/)" = "$LISTING" ]; }
    OP=op_archive_store
    # A killed upload is what a store meets; a failing file call is the
    # folder's sweep's.
    SWEEP_MODES=kill sweep "archive run to an object store (1 full extent, 1 half-filled)"
}

# --- Fetching an archive back into the log directory --------------------

op_fetch() {
    "$NSFMEND" OPT=FETCH IN="$ARCHIVE" </dev/null
}

log_listing() { (cd "$LOGDIR" && ls -iA --full-time); }

sweep_fetch() {
    new_server
    write_changes mail.nsf 9   # extents 1 and 2 full, 3 being filled
    ARCHIVE="$BATS_TEST_TMPDIR/archive"
    LD_LIBRARY_PATH="$AGENT_LIBDIR:$LIBNOTES_DIR" "$AGENT_CLIENT" spool "$ARCHIVE" "" |
        grep -qx msg=QMR_NSF_SUCCESS
    EXTENT_SUMS=$(copy_sums "$ARCHIVE")
    # The machine's log directory is lost.
    LOGDIR="$SERVER/logdir"
    rm -rf "$LOGDIR"
    mkdir "$LOGDIR"
    save_state notesdata

    # Every extent placed is its archived copy whole, and every record there
    # is whole and true to them.
    check_interrupted() {
        copies_whole "$LOGDIR"
        if [ "$RUN_STATUS" -eq 0 ]; then check_done; fi
    }
    check_done() {
        [[ $RUN_OUT != *"Fail to"* ]]
        [ "$(copy_sums "$LOGDIR")" = "$EXTENT_SUMS" ]
        [ "$(records_in_force "$LOGDIR")" = "$EXTENT_SUMS" ]
        [ -z "$(leftovers "$LOGDIR")" ]
    }
    snapshot_result() { LISTING=$(log_listing); }
    check_unchanged() { [ "$(log_listing)" = "$LISTING" ]; }
    OP=op_fetch
    sweep "fetch of an archive folder (2 full extents, 1 half-filled)"
}

case $operation in
    restore) sweep_restore ;;
    media-recovery) sweep_media_recovery ;;
    archive) sweep_archive ;;
    archive-store) sweep_archive_store ;;
    fetch) sweep_fetch ;;
    *) echo "unknown operation: $operation" >&2; exit 2 ;;
esac
