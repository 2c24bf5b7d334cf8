#!/usr/bin/env bats
# The installed agent library as an outside program sees it: the files, the
# exported names, the standalone header, and a C program built from the
# staged install alone for this build's architecture.

load helpers
load agent_helpers

arch_flags() {
    [ "${NSFMEND_32BIT:-OFF}" = ON ] && echo -m32
    return 0
}

@test "the install holds the versioned library, the header and a pkg-config file with absolute paths" {
    local prefix
    prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$BUILD_DIR/CMakeCache.txt")
    [ -f "$AGENT_PREFIX/include/nsfmend/agent.h" ]
    [ "$(readlink "$AGENT_LIBDIR/libnsfmend.so")" = libnsfmend.so.0 ]
    [ "$(readlink "$AGENT_LIBDIR/libnsfmend.so.0")" = "libnsfmend.so.$(pkg-config --modversion nsfmend)" ]
    readelf -d "$AGENT_LIBDIR/libnsfmend.so.0" | grep -q 'Library soname: \[libnsfmend\.so\.0\]'
    # The file names the configured prefix itself, absolute and normalised.
    run env -u PKG_CONFIG_SYSROOT_DIR pkg-config --variable=includedir nsfmend
    [ "$output" = "$prefix/include" ]
    run env -u PKG_CONFIG_SYSROOT_DIR pkg-config --variable=libdir nsfmend
    [[ $output == "$prefix"/lib* && $output == "$(realpath -m "$output")" ]]
    [ "$AGENT_LIBDIR" = "$AGENT_STAGE$output" ]
    [ "$(pkg-config --cflags nsfmend | tr -d ' ')" = "-I$AGENT_PREFIX/include" ]
}

@test "exactly the symbols file's operations are exported, in its version node, and libnotes.so is needed" {
    run bash -c "readelf --dyn-syms -W '$AGENT_LIBDIR/libnsfmend.so.0' |
        awk '\$5 == \"GLOBAL\" && \$7 != \"UND\" && \$4 == \"FUNC\" {print \$8}' | sort"
    [ "$output" = "$(sed -n 's/^ \([A-Za-z_][A-Za-z0-9_]*\)@\(NSFMEND_0\) .*/\1@@\2/p' \
        "$SOURCE_DIR/src/agent/libnsfmend0.symbols" | grep -v '^NSFMEND_0@' | sort)" ]
    [ "${#lines[@]}" -eq 7 ]
    readelf -d "$AGENT_LIBDIR/libnsfmend.so.0" | grep -q 'NEEDED.*\[libnotes\.so\]'
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
    run -0 agent style
    [ "$output" = "msg=QMR_NSF_TRANSLOG_STYLE_ARCHIVE" ]
}
