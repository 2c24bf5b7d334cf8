#!/usr/bin/env bats
# The agent library as Debian ships a C library: libnsfmend.so.0 with its
# symbols, shlibs and ldconfig trigger; the amd64 and i386 packages
# installed side by side into one scratch root by dpkg; and the C agent
# client built against each architecture from that root.

bats_require_minimum_version 1.5.0

load package_helpers
# The end-to-end helpers build and run the C agent client; the programs and
# folders they want are set per architecture below.
export NSFMEND=none NOTESEMU=none BUILD_DIR=none LIBNOTES_DIR=none
load ../e2e/helpers
load ../e2e/agent_helpers

SYMBOLS="$SOURCE_DIR/src/agent/libnsfmend0.symbols"

# The operations the symbols file lists (the version node left out), sorted.
symbols_file_operations() {
    sed -n 's/^ \([A-Za-z_][A-Za-z0-9_]*\)@NSFMEND_0 .*/\1/p' "$SYMBOLS" | grep -vx NSFMEND_0 | sort
}

# A scratch root with both architectures' library packages installed by
# dpkg itself, which refuses Multi-Arch: same packages whose shared files
# differ. The C and C++ runtimes they depend on live outside the root.
setup_file() {
    export ROOT="$BATS_FILE_TMPDIR/root"
    mkdir -p "$ROOT/var/lib/dpkg/info" "$ROOT/var/lib/dpkg/updates" "$ROOT/var/lib/dpkg/triggers"
    touch "$ROOT/var/lib/dpkg/status"
    dpkg --root="$ROOT" --add-architecture i386
    dpkg --root="$ROOT" --force-depends -i "$(deb libnsfmend0 amd64)" "$(deb libnsfmend0 i386)" \
        "$(deb libnsfmend-dev amd64)" "$(deb libnsfmend-dev i386)" >"$BATS_FILE_TMPDIR/dpkg.log" 2>&1 ||
        { cat "$BATS_FILE_TMPDIR/dpkg.log" >&2; return 1; }
}

@test "dpkg installs the amd64 and i386 library packages side by side" {
    run dpkg-query --root="$ROOT" -W -f='${binary:Package} ${Version} ${db:Status-Abbrev}\n'
    [ "$output" = "libnsfmend-dev:amd64 $VERSION ii 
libnsfmend-dev:i386 $VERSION ii 
libnsfmend0:amd64 $VERSION ii 
libnsfmend0:i386 $VERSION ii " ]
    readelf -h "$ROOT/usr/lib/x86_64-linux-gnu/libnsfmend.so.$VERSION" | grep -q 'Class:.*ELF64'
    readelf -h "$ROOT/usr/lib/i386-linux-gnu/libnsfmend.so.$VERSION" | grep -q 'Class:.*ELF32'
}

@test "libnsfmend0: SONAME libnsfmend.so.0; symbols, shlibs and an ldconfig trigger, no maintainer scripts" {
    local arch control
    for arch in "${ARCHES[@]}"; do
        run readelf -d "$(unpacked libnsfmend0 "$arch")/usr/lib/$(triplet "$arch")/libnsfmend.so.$VERSION"
        [[ $output == *"(SONAME)"*"Library soname: [libnsfmend.so.0]"* ]]
        run bash -c "dpkg-deb --ctrl-tarfile '$(deb libnsfmend0 "$arch")' | tar -t | sed 's|^\./||' | grep . | sort"
        [ "$output" = "control
md5sums
shlibs
symbols
triggers" ]
        control="$BATS_TEST_TMPDIR/control-$arch"
        dpkg-deb -e "$(deb libnsfmend0 "$arch")" "$control"
        [ "$(grep -v '^#' "$control/triggers")" = "activate-noawait ldconfig" ]
        [ "$(cat "$control/shlibs")" = "libnsfmend 0 libnsfmend0 (>= $VERSION)" ]
        cmp "$control/symbols" "$SYMBOLS"
    done
    # The other packages have no control files beyond control and md5sums.
    for arch in "${ARCHES[@]}"; do
        for package in libnsfmend-dev nsfmend nsfmend-emulator; do
            run bash -c "dpkg-deb --ctrl-tarfile '$(deb "$package" "$arch")' | tar -t | sed 's|^\./||' | grep . | sort"
            [ "$output" = $'control\nmd5sums' ]
        done
    done
}

@test "the symbols file is exactly what the library exports, per dpkg-gensymbols, in both architectures" {
    local arch root
    mkdir -p "$BATS_TEST_TMPDIR/debian"
    printf 'Source: nsfmend\n\nPackage: libnsfmend0\nArchitecture: any\n' >"$BATS_TEST_TMPDIR/debian/control"
    for arch in "${ARCHES[@]}"; do
        root=$(unpacked libnsfmend0 "$arch")
        # -c4: any symbol added or missing on either side fails.
        (cd "$BATS_TEST_TMPDIR" && DEB_HOST_ARCH=$arch dpkg-gensymbols -plibnsfmend0 -v"$VERSION" -P"$root" \
            -e"$root/usr/lib/$(triplet "$arch")/libnsfmend.so.$VERSION" -I"$SYMBOLS" -O"$BATS_TEST_TMPDIR/out" -c4)
        # Every exported function carries the version node.
        run bash -c "readelf --dyn-syms -W '$root/usr/lib/$(triplet "$arch")/libnsfmend.so.$VERSION' |
            awk '\$5 == \"GLOBAL\" && \$7 != \"UND\" && \$4 == \"FUNC\" {print \$8}' | sort"
        [ "$output" = "$(symbols_file_operations | sed 's/$/@@NSFMEND_0/')" ]
    done
}

@test "the header declares exactly the operations of the symbols file" {
    run bash -c "sed -n 's/^[a-z0-9_]\\+ \\**\\([A-Za-z_][A-Za-z0-9_]*\\)(.*/\\1/p' '$ROOT/usr/include/nsfmend/agent.h' | sort"
    [ "$output" = "$(symbols_file_operations)" ]
    [ "${#lines[@]}" -eq 7 ]
}

@test "pkg-config of each architecture: -lnsfmend alone, the system folders left out" {
    local arch pc
    for arch in "${ARCHES[@]}"; do
        pc="$ROOT/usr/lib/$(triplet "$arch")/pkgconfig"
        run env PKG_CONFIG_LIBDIR="$pc" pkg-config --cflags --libs nsfmend
        [[ $output =~ ^-lnsfmend\ *$ ]]
        run env PKG_CONFIG_LIBDIR="$pc" pkg-config --variable=libdir nsfmend
        [ "$output" = "/usr/lib/$(triplet "$arch")" ]
        run env PKG_CONFIG_LIBDIR="$pc" pkg-config --variable=includedir nsfmend
        [ "$output" = /usr/include ]
        run env PKG_CONFIG_LIBDIR="$pc" pkg-config --modversion nsfmend
        [ "$output" = "$VERSION" ]
        # How an agent links the server's libnotes.so too.
        grep -q -- '-lnotes' "$pc/nsfmend.pc"
    done
    grep -q -- '-lnotes' "$ROOT/usr/include/nsfmend/agent.h"
}

@test "the C agent client builds against each architecture's packages and runs against its emulator" {
    local arch lib emulator client class
    for arch in "${RUN_ARCHES[@]}"; do
        lib="$ROOT/usr/lib/$(triplet "$arch")"
        emulator="$(unpacked nsfmend-emulator "$arch")"
        export NOTESEMU="$emulator/usr/bin/notesemu"
        client="$BATS_TEST_TMPDIR/client-$arch"
        if [ "$arch" = i386 ]; then NSFMEND_32BIT=ON class=ELF32; else NSFMEND_32BIT=OFF class=ELF64; fi
        NSFMEND_32BIT=$NSFMEND_32BIT PKG_CONFIG_LIBDIR="$lib/pkgconfig" PKG_CONFIG_SYSROOT_DIR="$ROOT" \
            agent_compile_client "$client" "$emulator/usr/lib/$(triplet "$arch")/nsfmend-emulator"
        readelf -h "$client" | grep -q "Class:.*$class"
        readelf -d "$client" | grep -q 'NEEDED.*\[libnsfmend\.so\.0\]'
        rm -rf "$BATS_TEST_TMPDIR/notesdata"
        new_server
        run env LD_LIBRARY_PATH="$lib:$emulator/usr/lib/$(triplet "$arch")/nsfmend-emulator" "$client" style
        [ "$status" -eq 0 ]
        [ "$output" = "msg=QMR_NSF_TRANSLOG_STYLE_ARCHIVE" ]
    done
}
