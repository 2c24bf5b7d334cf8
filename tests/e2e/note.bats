#!/usr/bin/env bats
# OPT=NOTE: the recovery reports every replayed note in nine lines, between
# the recovering line and the recovery's own success line.

load helpers
load recovery_helpers

setup() { mail_story; }

# The reports of $output, one per line, fields joined with "|".
reports() {
    printf '%s\n' "$output" | awk '
        /^\[nsfmend\.NoteCallback\] $/ { if (r != "") print r; r = "R"; n = 0; next }
        r != "" && n < 8 { sub(/^\t+/, ""); r = r "|" $0; n++ }
        END { if (r != "") print r }'
}

@test "each replayed change is reported in nine lines with its action" {
    run -0 nsfmend OPT=NOTE IN="$BACKUP" OUT="$LIVE"
    [ "$(db_notes "$BACKUP")" == "$LATEST" ]

    # Between the recovering line and the success line, nothing but reports.
    local body
    body=$(printf '%s\n' "$output" | sed -n '/^ Recovering backup file/,/^ Recover /p' | sed '1d;$d')
    [ "$(printf '%s\n' "$body" | grep -c '^\[nsfmend.NoteCallback\] $')" -ge 4 ]
    [ "$(( $(printf '%s\n' "$body" | wc -l) % 9 ))" -eq 0 ]

    run reports
    local r
    r=$(printf '%s\n' "$output" | grep '|NoteID: 3|')
    [[ $r =~ ^R\|Note\ information\ for\ backup\ file\ $BACKUP\|Started\ at:\ .+\|InfoSize:\ [0-9]+\|NoteID:\ 3\|NoteHandle:\ -?[0-9]+\|User\ Name:\ Bob\ Baker\|Action:\ Addition\|Finished\ at$ ]] || {
        echo "report: $r"; false; }
    printf '%s\n' "$output" | grep -q '|NoteID: 1|.*|Action: Update|'
    printf '%s\n' "$output" | grep -q '|NoteID: 2|.*|Action: Deletion|'
    printf '%s\n' "$output" | grep -q '|NoteID: 4|.*|Action: Undo|'
    # Note IDs in upper-case hexadecimal.
    printf '%s\n' "$output" | grep -q '|NoteID: FF|.*|User Name: Cy Clerk|Action: Addition|'
}

@test "with a cut-off time only the changes up to it are reported" {
    run -0 nsfmend OPT=NOTE IN="$BACKUP" OUT="$LIVE" DATETIME="11/15/2013 14:00"
    assert_output_has " Recover $BACKUP transactions till transaction in "
    [ "$(db_notes "$BACKUP")" == "$AT_1400" ]
    run reports
    [ "$(printf '%s\n' "$output" | wc -l)" -eq 2 ]
    printf '%s\n' "$output" | grep -q '|NoteID: 3|.*|Action: Addition|'
    printf '%s\n' "$output" | grep -q '|NoteID: 1|.*|Action: Update|'
}

@test "a user name too long for the report is cut, never overrun" {
    local user
    user=$(printf 'U%.0s' {1..5000})
    emu put mail.nsf 7 "long" --user "$user" --at 2013-11-15T17:00:00Z
    run -0 nsfmend OPT=NOTE IN="$BACKUP" OUT="$LIVE"
    local line
    line=$(printf '%s\n' "$output" | grep -a "User Name: UUUU")
    # "\t\tUser Name: " plus the name, cut where the 4096-byte report ends.
    [ "${#line}" -lt 4096 ]
    [ "${#line}" -gt 3900 ]
    assert_output_has " Recover $BACKUP till latest transaction"
}

@test "NOTE with a DATETIME that does not parse reports nothing" {
    run -1 nsfmend OPT=NOTE IN="$BACKUP" OUT="$LIVE" DATETIME="15.11.2013 14:00"
    refute_output_has "[nsfmend.NoteCallback]"
    assert_output_has " Fail to recover database $BACKUP, Reason="
}
