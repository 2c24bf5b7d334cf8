# Shared set-up for the recovery, restore and media-recovery tests: a mail
# database whose changes span several log extents, with a backup taken part
# of the way through. Load after helpers.

emu() { "$NOTESEMU" "$@"; }

# The live notes of a database, one per line (NOTEID TAB TIME TAB USER TAB TEXT).
db_notes() { emu show "$1" | awk -F'\t' 'NF >= 4'; }
# One header value of a database ("instance-id", "replica-id", "state", ...).
db_field() { emu show "$1" | sed -n "s/^$2: //p"; }

# Fails with both texts shown unless $output contains the given text.
assert_output_has() {
    if [[ $output != *"$1"* ]]; then
        printf 'expected to find:\n%s\n--- in output:\n%s\n' "$1" "$output" >&2
        return 1
    fi
}
refute_output_has() {
    if [[ $output == *"$1"* ]]; then
        printf 'did not expect:\n%s\n--- in output:\n%s\n' "$1" "$output" >&2
        return 1
    fi
}

# new_server, then mail.nsf with changes from 11:00 to 16:00 GMT on
# 2013-11-15 over three extents. BACKUP is the copy taken after 11:30;
# AT_1400 holds the notes the live database had at 14:00 GMT, LATEST its
# notes at the end.
mail_story() {
    new_server "$@"
    emu create mail.nsf >/dev/null
    emu put mail.nsf 1 "first" --user "Ann Admin" --at 2013-11-15T11:00:00Z
    emu put mail.nsf 2 "second" --user "Ann Admin" --at 2013-11-15T11:30:00Z
    BACKUP="$BATS_TEST_TMPDIR/backup/mail.nsf"
    mkdir -p "${BACKUP%/*}"
    emu backup mail.nsf "$BACKUP" >/dev/null
    AT_BACKUP=$(db_notes "$BACKUP")
    emu put mail.nsf 3 "third" --user "Bob Baker" --at 2013-11-15T12:00:00Z
    emu rollover >/dev/null
    emu put mail.nsf 1 "first, edited" --user "Ann Admin" --at 2013-11-15T13:30:00Z
    AT_1400=$(db_notes mail.nsf)
    emu delete mail.nsf 2 --user "Bob Baker" --at 2013-11-15T14:30:00Z
    emu rollover >/dev/null
    emu abort mail.nsf 4 "never" --at 2013-11-15T15:00:00Z
    emu put mail.nsf 255 "hex" --user "Cy Clerk" --at 2013-11-15T16:00:00Z
    LATEST=$(db_notes mail.nsf)
    LIVE="$SERVER/mail.nsf"
}

# The server started, and the live database and the backup kept as they
# are now (live-before, backup-before) to compare with after a run.
serve_and_keep() {
    emu server start >/dev/null
    cp "$LIVE" "$BATS_TEST_TMPDIR/live-before"
    cp "$BACKUP" "$BATS_TEST_TMPDIR/backup-before"
}

# as_nobody, with the emulated server and the backup's folder (when there is
# one) user 65534's.
hand_over_to_nobody() {
    as_nobody "$@"
    chown -R 65534:65534 "$SERVER" ${BACKUP:+"${BACKUP%/*}"}
}

# An archive record in folder $1 for the extents there, as an archiving run
# writes one: each extent's size, log ID (the words of its header) and
# SHA-256. RECORD is its name.
RECORD=nsfmend-archive-20131115T190000Z.sha256
write_archive_record() {
    local dir=$1 e
    { echo "# nsfmend archive record 1: sha256sum -c <record> checks it in its folder"
      for e in $(cd "$dir" && ls S*.TXN); do
          echo "# size $(stat -c %s "$dir/$e") log $(od -An -tx4 -j12 -N16 "$dir/$e" | tr -d ' \n' | tr a-f A-F)"
          (cd "$dir" && sha256sum "$e")
      done
    } >"$dir/$RECORD"
}
# The log ID of a database, as records write it.
log_id_of() { emu show "$1" | sed -n 's/^log-id: //p' | tr a-f A-F; }

# A logged database of another server's log at path $1.
foreign_database() {
    local other="$BATS_TEST_TMPDIR/other-server"
    [ -d "$other" ] || "$NOTESEMU" init "$other" >/dev/null
    NOTES_DATA_DIR=$other emu create foreign.nsf >/dev/null
    NOTES_DATA_DIR=$other emu put foreign.nsf 1 "kept elsewhere" >/dev/null
    mv "$other/foreign.nsf" "$1"
}

# The disaster story: the logged databases it makes (local.box is not logged).
DBS=(mail/ann.nsf mail/bob.nsf apps/catalog.nsf names.nsf)

snapshot() { # DIR: the notes of every database into DIR/<name>.notes
    local db
    mkdir -p "$1"
    for db in "${DBS[@]}" local.box; do db_notes "$db" > "$1/${db//\//_}.notes"; done
}

# The server's life up to the loss: databases, a nightly backup of the data
# directory, a day's work over several extents, the disk lost, and the backup
# and the archived extents put back. Extra arguments run after the day's
# work, before the extents are archived (a last rollover, say). Sets LOGDIR
# and NIGHTLY; the notes of each database are in at-backup/ and before-loss/.
disaster_story() {
    new_server
    mkdir -p "$SERVER/mail" "$SERVER/apps"
    emu create mail/ann.nsf >/dev/null
    emu create mail/bob.nsf >/dev/null
    emu create apps/catalog.nsf >/dev/null
    emu create local.box --unlogged >/dev/null
    local i db
    for i in 1 2 3; do
        emu put mail/ann.nsf $i "ann note $i" --user "Ann Admin"
        emu put mail/bob.nsf $((i * 10)) "bob note $i" --user "Bob Baker"
    done
    emu put apps/catalog.nsf 1 "catalog" --user "Cat Keeper"
    emu put local.box 1 "kept locally" --user "Ann Admin"
    emu rollover >/dev/null

    # The nightly backup of the whole data directory.
    NIGHTLY="$BATS_TEST_TMPDIR/nightly"
    cp -a "$SERVER" "$NIGHTLY"
    snapshot "$BATS_TEST_TMPDIR/at-backup"

    # A day's work over several extents, on every kind of database.
    emu put mail/ann.nsf 2 "ann note 2, edited" --user "Ann Admin"
    emu delete mail/bob.nsf 20 --user "Bob Baker"
    emu rollover >/dev/null
    emu put mail/bob.nsf 40 "bob note 4" --user "Bob Baker"
    emu abort mail/ann.nsf 9 "rolled back"
    emu put apps/catalog.nsf 2 "catalog, more" --user "Cat Keeper"
    emu rollover >/dev/null
    emu put mail/ann.nsf 4 "ann note 4" --user "Ann Admin"
    emu put names.nsf 7 "Dee Delta" --user "Admin"
    emu put local.box 2 "lost with the disk" --user "Ann Admin"
    "$@"
    snapshot "$BATS_TEST_TMPDIR/before-loss"
    # Every database changed after the backup, so each one has something to replay.
    for db in "${DBS[@]}" local.box; do
        if cmp -s "$BATS_TEST_TMPDIR/at-backup/${db//\//_}.notes" "$BATS_TEST_TMPDIR/before-loss/${db//\//_}.notes"; then
            echo "$db did not change after the backup" >&2
            return 1
        fi
    done
    LOGDIR=$(sed -n 's/^TRANSLOG_Path=//Ip' "$SERVER/notes.ini" | head -1)
    [[ $LOGDIR == /* ]] || LOGDIR="$SERVER/$LOGDIR"
    cp -a "$LOGDIR" "$BATS_TEST_TMPDIR/archived-logs"

    # The disk is lost; the data directory and then the archived extents come back.
    rm -rf "$SERVER"
    cp -a "$NIGHTLY" "$SERVER"
    cp "$BATS_TEST_TMPDIR"/archived-logs/*.TXN "$LOGDIR/"
    snapshot "$BATS_TEST_TMPDIR/restored"
    diff -r "$BATS_TEST_TMPDIR/at-backup" "$BATS_TEST_TMPDIR/restored"
}

# The sweep's part of $output: from the line after "Running media recovery ..."
# up to the runtime stop, with the API's reason for a failed open replaced
# by REASON.
sweep_output() {
    printf '%s\n' "$output" | sed -n '/^Running media recovery \.\.\.$/,/^Terminate\.\.\.$/p' |
        sed '1d;$d' | sed 's/\(^ Fail to open database .*, Reason=\).*/\1REASON/'
}

# Expected sweep lines, one argument per database in list order:
# rec:PATH (recovered to the latest transaction), skip:PATH (not logged),
# bad:PATH (cannot be opened: a failure), then the summary line and one line
# per failed database.
expect_sweep() {
    local item path recovered=0 skipped=0 failed=()
    for item in "$@"; do
        path=${item#*:}
        case ${item%%:*} in
            rec) printf '\n\n Recovering backup file %s...\n Recover %s till latest transaction\n' "$path" "$path"
                 recovered=$((recovered + 1)) ;;
            skip) printf ' Skip recover database %s because it is not a logged database\n' "$path"
                  skipped=$((skipped + 1)) ;;
            bad) printf ' Fail to open database %s, Reason=REASON\n' "$path"
                 failed+=("$path") ;;
        esac
    done
    printf 'Media recovery: %d recovered, %d skipped as not logged, %d failed\n' \
        "$recovered" "$skipped" "${#failed[@]}"
    [ ${#failed[@]} -eq 0 ] || printf ' Failed: %s\n' "${failed[@]}"
    # termNotes begins with two line ends.
    printf '\n\n'
}

# A checksum of every file under a directory, to show nothing was touched.
tree_sum() { (cd "$1" && find . -type f -print0 | sort -z | xargs -0 sha256sum); }

# What a run that only reads must leave as it found under a folder: every
# file's checksum, and every entry's name, type and mode (a new empty file or
# folder shows too).
tree_state() {
    tree_sum "$1"
    (cd "$1" && find . -printf '%p %y %m\n' | sort)
}

# The preflight's part of $output: its heading, its check lines, its verdict.
preflight_lines() { printf '%s\n' "$output" | sed -n '/^Preflight of a /,/^Verdict: /p'; }
# The detail of the first line of $output marked FAIL for SUBJECT.
fail_detail() { printf '%s\n' "$output" | sed -n "s/^FAIL $1: //p" | head -n 1; }
# The preflight's verdict line.
verdict_line() { printf '%s\n' "$output" | grep '^Verdict: '; }
