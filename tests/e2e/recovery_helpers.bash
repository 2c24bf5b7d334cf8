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
