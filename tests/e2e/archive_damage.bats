#!/usr/bin/env bats
# An archive is worth the recovery it allows. Each test damages an archive
# the agent's own archiving made, then asks the check (nsfmend OPT=VERIFY,
# and the agent's verifyNsfArchiveLogs, which must agree with it) and a
# recovery that uses that archive alone: copied into the log folder after the
# server's own extents were lost, as the disaster procedure does. The check
# must pass exactly when the recovery gets every change back, with the two
# exceptions the header names: a run into another folder is seen only with
# the log folder, and a damaged copy the recovery does not need is still
# reported.

load helpers
load recovery_helpers
load agent_helpers

# The story, made once: a logged database, its backup, then two archiving
# runs with changes over several extents before each; the first run
# captures an extent half filled, which the second completes.
setup_file() {
    agent_build_client
    STORY="$BATS_FILE_TMPDIR/story"
    mkdir -p "$STORY"
    make_story "$STORY/plain" "" ""
    make_story "$STORY/suffixed" "-1" "-2"
    cp -a "$STORY" "$BATS_FILE_TMPDIR/saved"
}

# make_story HOME SUFFIX1 SUFFIX2 [FOLDER2]: in HOME a server, the backup of
# mail.nsf, the archive (the second run into FOLDER2 when given) and the
# notes the recovery must give back.
make_story() {
    local home=$1 one=$2 two=$3 i
    local second=${4:-$home/archive}
    mkdir -p "$home"
    SERVER="$home/notesdata"
    "$NOTESEMU" init "$SERVER" >/dev/null
    export NOTES_DATA_DIR="$SERVER"
    emu create mail.nsf >/dev/null
    emu put mail.nsf 1 "before the backup" --at 2013-11-15T09:00:00Z
    emu backup mail.nsf "$home/backup.nsf" >/dev/null
    for i in 2 3 4 5 6 7 8 9 10; do emu put mail.nsf $i "note $i" --at "2013-11-15T10:0$((i - 1)):00Z"; done
    agent spool "$home/archive" "$one" >/dev/null
    for i in 11 12 13 14 15 16 17; do emu put mail.nsf $i "note $i" --at "2013-11-15T11:$((i + 10)):00Z"; done
    agent spool "$second" "$two" >/dev/null
    db_notes mail.nsf >"$home/latest.notes"
}

setup() {
    rm -rf "$BATS_FILE_TMPDIR/story"
    cp -a "$BATS_FILE_TMPDIR/saved" "$BATS_FILE_TMPDIR/story"
    use_story plain
}

# Points the test at one story: SERVER, ARCHIVE, NOTES_DATA_DIR.
use_story() {
    HOME_DIR="$BATS_FILE_TMPDIR/story/$1"
    SERVER="$HOME_DIR/notesdata"
    export NOTES_DATA_DIR="$SERVER"
    ARCHIVE="$HOME_DIR/archive"
    LOGDIR="$SERVER/logdir"
}

# The check: OPT=VERIFY's status, which the agent's answer must match.
# Sets CHECK (ok or fail) and keeps OPT=VERIFY's output in VERIFY_OUT.
check_archive() {
    local status=0
    VERIFY_OUT=$(nsfmend OPT=VERIFY IN="$ARCHIVE" "$@") || status=$?
    [ "$status" -le 1 ]
    local msg
    msg=$(agent verify "$ARCHIVE" "${1#OUT=}" | sed -n 's/^msg=//p')
    if [ "$status" -eq 0 ]; then CHECK=ok; else CHECK=fail; fi
    # The agent's first text and the command's verdict say the same.
    if [ "$CHECK" = ok ]; then [ "$msg" = QMR_NSF_SUCCESS ]; else [ "$msg" != QMR_NSF_SUCCESS ]; fi
    AGENT_MSG=$msg
}

# The recovery from the archive alone: the server's extents are lost, the
# archive's copies take their place (of each extent its longest copy under
# its bare name, as an administrator puts them back; files only), and the
# backup is rolled forward. Sets RECOVERY: fine, fails or silent-loss (exit
# 0, yet not every change back).
recover_from_archive() {
    rm -f "$LOGDIR"/S*.TXN "$LOGDIR/nlogctrl.lfh"
    local number file best
    for number in $(cd "$ARCHIVE" && ls | sed -n 's/^S\([0-9]\{7\}\)\.TXN.*/\1/p' | sort -u); do
        best=
        for file in "$ARCHIVE/S$number.TXN"*; do
            [ -f "$file" ] || continue
            case ${file#"$ARCHIVE/S$number.TXN"} in "" | -1 | -2) ;; *) continue ;; esac
            if [ -z "$best" ] || [ "$(stat -c %s "$file")" -gt "$(stat -c %s "$best")" ]; then best=$file; fi
        done
        [ -z "$best" ] || cp "$best" "$LOGDIR/S$number.TXN"
    done
    cp "$HOME_DIR/backup.nsf" "$HOME_DIR/restored.nsf"
    # The live database went with the disaster: nothing but the archive
    # tells how far the log reached.
    rm -f "$SERVER/mail.nsf"
    local status=0
    nsfmend OPT=RECOVER IN="$HOME_DIR/restored.nsf" OUT="$SERVER/mail.nsf" >/dev/null || status=$?
    if [ "$status" -ne 0 ]; then
        RECOVERY=fails
    elif [ "$(db_notes "$HOME_DIR/restored.nsf")" = "$(cat "$HOME_DIR/latest.notes")" ]; then
        RECOVERY=fine
    else
        RECOVERY=silent-loss
    fi
}

# outcome_is CHECK RECOVERY: the check and then the recovery end as given
# ("ok fine", "fail fails", ...); CHECK, AGENT_MSG and VERIFY_OUT stay set.
# (Under run the checks inside check_archive could not fail the test.)
outcome_is() {
    check_archive
    recover_from_archive
    [ "$CHECK $RECOVERY" = "$*" ] || { echo "check $CHECK, recovery $RECOVERY; want $*" >&2; return 1; }
}

@test "a sound archive: the check passes and the recovery gets every change back" {
    outcome_is ok fine
    [[ $VERIFY_OUT != *FAIL* ]]
}

@test "the first extent deleted: the check names it, the recovery fails" {
    rm "$ARCHIVE/S0000001.TXN"
    outcome_is fail fails
    [ "$AGENT_MSG" = "Missing extent S0000001.TXN in $ARCHIVE (missing: S0000001.TXN)" ]
    [[ $VERIFY_OUT == *$'\n'"FAIL extents: S0000001.TXN to S0000005.TXN, 4 extents there, missing S0000001.TXN"$'\n'* ]]
}

# How the check and the recovery end, and the damage done in the archive folder.
@test "a middle extent deleted, emptied, cut to its header or its header altered: both fail; the last one cut: the recovery loses changes silently, the check fails" {
    local check recovery damage
    while read -r check recovery damage; do
        setup
        echo "# damage: $damage"
        (cd "$ARCHIVE" && eval "$damage")
        outcome_is "$check" "$recovery"
    done <<'TABLE'
fail fails rm S0000002.TXN
fail fails : >S0000003.TXN
fail fails truncate -s 44 S0000003.TXN
fail fails flip_byte S0000002.TXN 10
fail silent-loss truncate -s 44 "$(ls S*.TXN | tail -n 1)"
TABLE
}

@test "a middle extent truncated to half: both fail, the agent names the sizes" {
    local size
    size=$(stat -c %s "$ARCHIVE/S0000002.TXN")
    truncate -s $((size / 2)) "$ARCHIVE/S0000002.TXN"
    outcome_is fail fails
    [ "$AGENT_MSG" = "Archived file $ARCHIVE/S0000002.TXN does not match archive record $(archive_records "$ARCHIVE" | head -n 1) (size $((size / 2)), recorded $size)" ]
}

@test "a byte flipped in an extent's body: both fail, the agent names the checksum" {
    flip_byte "$ARCHIVE/S0000002.TXN" 100
    outcome_is fail fails
    [[ $AGENT_MSG == *"S0000002.TXN does not match archive record "*" (same size, another SHA-256)" ]]
}

# A second run that completed the first one's capture and stopped before its
# record: the grown copy is a note while its recorded start is as recorded.
@test "a copy grown from its recorded start is a note; altered in that start, it fails both" {
    local second flip
    second=$(archive_records "$ARCHIVE" | tail -n 1)
    for flip in "" 100; do
        setup
        rm "$ARCHIVE/$second"
        [ -z "$flip" ] || flip_byte "$ARCHIVE/S0000003.TXN" "$flip"
        outcome_is "$([ -z "$flip" ] && echo ok fine || echo fail fails)"
        [ -n "$flip" ] || [[ $VERIFY_OUT == *$'\n'"note archived file: $ARCHIVE/S0000003.TXN has grown from what archive record "* ]]
    done
    [[ $AGENT_MSG == "Archived file $ARCHIVE/S0000003.TXN does not match archive record "* ]]
}

@test "an extent from another server in place of one: both fail" {
    local other="$BATS_TEST_TMPDIR/other"
    "$NOTESEMU" init "$other" >/dev/null
    NOTES_DATA_DIR="$other" write_changes mail.nsf 5
    cp "$other/logdir/S0000002.TXN" "$ARCHIVE/S0000002.TXN"
    outcome_is fail fails
}

@test "the last extent deleted: the recovery loses changes silently, the check fails naming it missing" {
    local last
    last=$(cd "$ARCHIVE" && ls S*.TXN | tail -n 1)
    rm "$ARCHIVE/$last"
    outcome_is fail silent-loss
    [ "$AGENT_MSG" = "Missing extent $last in $ARCHIVE (missing: $last)" ]
}

@test "a second run into another folder: seen with the log folder, not in the archive alone" {
    make_story "$BATS_TEST_TMPDIR/split" "" "" "$BATS_TEST_TMPDIR/split/elsewhere"
    HOME_DIR="$BATS_TEST_TMPDIR/split"
    ARCHIVE="$HOME_DIR/archive"
    LOGDIR="$SERVER/logdir"
    check_archive
    [ "$CHECK" = ok ]
    check_archive OUT="$LOGDIR"
    [ "$CHECK" = fail ]
    [[ $AGENT_MSG == "Extents of the log directory $LOGDIR missing from $ARCHIVE: "* ]]
    [[ $VERIFY_OUT == *"FAIL log directory: $LOGDIR holds extents the archive lacks: "* ]]
    recover_from_archive
    [ "$RECOVERY" = silent-loss ]
}

@test "an editor's copy under a suffix no run used, and a folder named like an extent, do not fail a sound archive" {
    cp "$ARCHIVE/S0000002.TXN" "$ARCHIVE/S0000002.TXN.bak"
    flip_byte "$ARCHIVE/S0000002.TXN.bak" 100
    mkdir "$ARCHIVE/S0000009.TXN"
    outcome_is ok fine
    [[ $VERIFY_OUT == *"note archive folder: 2 other entries, not archived extents: S0000002.TXN.bak, S0000009.TXN"* ]]
    # Without records the archive is judged by its names, as before.
    rm "$ARCHIVE"/nsfmend-archive-*
    check_archive
    [ "$CHECK" = fail ]
    [[ $VERIFY_OUT == *"note archive records: none in $ARCHIVE; every file is checked by name only"* ]]
}

@test "suffixed copies: the longer one damaged past the shorter fails both" {
    use_story suffixed
    local longer="$ARCHIVE/S0000003.TXN-2" shorter="$ARCHIVE/S0000003.TXN-1"
    [ "$(stat -c %s "$longer")" -gt "$(stat -c %s "$shorter")" ]
    flip_byte "$longer" $(($(stat -c %s "$shorter") + 4))
    outcome_is fail fails
}

@test "suffixed copies: a damaged shorter capture beside a good full copy is reported, though the recovery needs only the full one" {
    use_story suffixed
    outcome_is ok fine
    setup
    use_story suffixed
    flip_byte "$ARCHIVE/S0000003.TXN-1" 60
    outcome_is fail fine
}

@test "extents of two logs in one archive fail the check" {
    # Another server's archive, put in the same folder under its own suffix.
    local other="$BATS_TEST_TMPDIR/other"
    "$NOTESEMU" init "$other" >/dev/null
    NOTES_DATA_DIR="$other" write_changes mail.nsf 5
    NOTES_DATA_DIR="$other" agent spool "$ARCHIVE" "-other" >/dev/null
    check_archive
    [ "$CHECK" = fail ]
    [[ $AGENT_MSG == "Extents of more than one log in $ARCHIVE: "*" (from S0000001.TXN), "*" (from S0000001.TXN-other)" ]]
    [[ $VERIFY_OUT == *"FAIL log: the records name extents of 2 logs: "* ]]
}

@test "a record cut short or unreadable fails the check, and only that" {
    local record
    record=$(archive_records "$ARCHIVE" | tail -n 1)
    head -c -5 "$ARCHIVE/$record" >"$BATS_TEST_TMPDIR/cut"
    cp "$BATS_TEST_TMPDIR/cut" "$ARCHIVE/$record"
    check_archive
    [ "$CHECK" = fail ]
    [[ $AGENT_MSG == "Archive record $ARCHIVE/$record is damaged at line "* ]]
    recover_from_archive
    [ "$RECOVERY" = fine ]
}
