#!/usr/bin/env bats
# The installed agent library as an outside program sees it: the files, the
# exported names, the standalone header, and a C program built from the
# prefix alone for this build's architecture.

load helpers
load agent_helpers

setup_file() {
    agent_build_client
}

arch_flags() {
    [ "${NSFMEND_32BIT:-OFF}" = ON ] && echo -m32
    return 0
}

@test "the prefix holds the library, the header and a pkg-config file that points into it" {
    [ -f "$AGENT_PREFIX/include/nsfmend/agent.h" ]
    [ -f "$AGENT_LIBDIR/libnsfmend.so" ]
    # Found from the file's own place: --prefix at install time is honoured.
    prefix=$(realpath "$AGENT_PREFIX")
    [ "$(realpath "$(pkg-config --variable=includedir nsfmend)")" = "$prefix/include" ]
    [[ "$(realpath "$AGENT_LIBDIR")" == "$prefix"/lib* ]]
    [ "$(pkg-config --cflags nsfmend | tr -d ' ')" = "-I$(pkg-config --variable=includedir nsfmend)" ]
}

@test "exactly the six agent operations are exported, and libnotes.so is needed" {
    run bash -c "nm -D --defined-only '$AGENT_LIBDIR/libnsfmend.so' | awk '{print \$NF}' | sort"
    [ "$output" = "DoArchiveLogs
archiveHalfFilledLogs
getTransLogStyle
recoverNsfDB
restoreNsfDB
spoolNsfArchiveLogs" ]
    readelf -d "$AGENT_LIBDIR/libnsfmend.so" | grep -q 'NEEDED.*\[libnotes\.so\]'
}

@test "the library and the client are built for this build's architecture" {
    if [ "${NSFMEND_32BIT:-OFF}" = ON ]; then class=ELF32; else class=ELF64; fi
    readelf -h "$AGENT_LIBDIR/libnsfmend.so" | grep -q "Class:.*$class"
    readelf -h "$AGENT_CLIENT" | grep -q "Class:.*$class"
}

@test "the header stands alone in C and C++ and names the six status strings with their sizes" {
    cat > "$BATS_TEST_TMPDIR/sizes.c" <<'C'
#include <nsfmend/agent.h>
#include <stdio.h>
int main(void) {
    printf("%s\n%s\n%s\n%s\n%s\n%s\n", NSFMEND_QMR_SUCCESS, NSFMEND_QMR_STYLE_NOT_LOGGED,
           NSFMEND_QMR_STYLE_CIRCULAR, NSFMEND_QMR_STYLE_ARCHIVE, NSFMEND_QMR_STYLE_UNKNOWN,
           NSFMEND_QMR_NO_TRANSLOGS);
    printf("%u %u %u %u %u %u %u %u %u\n", (unsigned)sizeof NSFMEND_QMR_SUCCESS,
           (unsigned)sizeof NSFMEND_QMR_STYLE_NOT_LOGGED, (unsigned)sizeof NSFMEND_QMR_STYLE_CIRCULAR,
           (unsigned)sizeof NSFMEND_QMR_STYLE_ARCHIVE, (unsigned)sizeof NSFMEND_QMR_STYLE_UNKNOWN,
           (unsigned)sizeof NSFMEND_QMR_NO_TRANSLOGS, (unsigned)sizeof "2013-11-15-13-00-00",
           (unsigned)NSFMEND_TIMESTAMP_SIZE, (unsigned)NSFMEND_TIMEFORMAT_SIZE);
    return 0;
}
C
    # shellcheck disable=SC2046
    cc -std=c99 -pedantic -Wall -Wextra -Werror $(arch_flags) $(pkg-config --cflags nsfmend) \
        "$BATS_TEST_TMPDIR/sizes.c" -o "$BATS_TEST_TMPDIR/sizes"
    run "$BATS_TEST_TMPDIR/sizes"
    [ "$output" = "QMR_NSF_SUCCESS
QMR_NSF_TRANSLOG_STYLE_NOT_LOGGED
QMR_NSF_TRANSLOG_STYLE_CIRCULAR
QMR_NSF_TRANSLOG_STYLE_ARCHIVE
QMR_NSF_TRANSLOG_STYLE_UNKNOWN
QMR_NSF_NO_TRANSLOGS_TO_ARCHIVE
16 34 32 31 31 32 20 20 18" ]
    echo '#include <nsfmend/agent.h>' |
        c++ -std=c++11 -Wall -Wextra -Werror $(arch_flags) $(pkg-config --cflags nsfmend) -x c++ -fsyntax-only -
}

@test "the C client built from the prefix starts the runtime and gets an answer" {
    new_server
    run agent style
    [ "$status" -eq 0 ]
    [ "$output" = "msg=QMR_NSF_TRANSLOG_STYLE_ARCHIVE" ]
}
