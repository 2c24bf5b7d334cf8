#!/usr/bin/env bats
# The reason the agent exists: extents it archived can be reused by the server
# and still serve a recovery once the administrator puts the copies back.

load helpers
load recovery_helpers
load agent_helpers

@test "archive, reuse, put back, recover to a cut-off time" {
    mail_story                       # extents 1 and 2 full, 3 being filled
    ARCHIVE="$BATS_TEST_TMPDIR/archive"

    agent_ok spool "$ARCHIVE" ".run1"
    [ "$(archived_files "$ARCHIVE" | tr '\n' ' ')" = "S0000001.TXN.run1 S0000002.TXN.run1 S0000003.TXN.run1 " ]

    # The server goes on; the extent that was half filled fills up.
    emu put mail.nsf 5 "late" --user "Di Dean" --at 2013-11-15T17:00:00Z
    emu rollover >/dev/null
    agent_ok spool "$ARCHIVE" ".run2"
    [ -f "$ARCHIVE/S0000003.TXN.run2" ]
    [ -f "$ARCHIVE/S0000004.TXN.run2" ]
    # What the first run captured is the start of what the second archived.
    cmp -n "$(stat -c %s "$ARCHIVE/S0000003.TXN.run1")" \
        "$ARCHIVE/S0000003.TXN.run1" "$ARCHIVE/S0000003.TXN.run2"

    emu reuse >/dev/null
    [ "$(ls "$SERVER/logdir" | tr '\n' ' ')" = "S0000004.TXN nlogctrl.lfh " ]

    # Without the archived extents the backup cannot be rolled forward.
    cp "$BACKUP" "$BATS_TEST_TMPDIR/before.nsf"
    run -1 nsfmend OPT=RECOVER IN="$BACKUP" OUT="$LIVE" DATETIME="11/15/2013 14:00"
    cmp "$BACKUP" "$BATS_TEST_TMPDIR/before.nsf"

    # The administrator puts back the newest copy of each extent.
    cp "$ARCHIVE/S0000001.TXN.run1" "$SERVER/logdir/S0000001.TXN"
    cp "$ARCHIVE/S0000002.TXN.run1" "$SERVER/logdir/S0000002.TXN"
    cp "$ARCHIVE/S0000003.TXN.run2" "$SERVER/logdir/S0000003.TXN"

    run -0 nsfmend OPT=RECOVER IN="$BACKUP" OUT="$LIVE" DATETIME="11/15/2013 14:00"
    [ "$(db_notes "$BACKUP")" = "$AT_1400" ]

    cp "$BATS_TEST_TMPDIR/before.nsf" "$BATS_TEST_TMPDIR/latest.nsf"
    run -0 nsfmend OPT=RECOVER IN="$BATS_TEST_TMPDIR/latest.nsf" OUT="$LIVE"
    [ "$(db_notes "$BATS_TEST_TMPDIR/latest.nsf")" = "$(db_notes mail.nsf)" ]
}
