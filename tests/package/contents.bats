#!/usr/bin/env bats
# What each .deb holds and says about itself: the split, the multiarch
# layout, the control fields, the copyright and changelog every package
# carries, and documents compressed as policy asks.

bats_require_minimum_version 1.5.0

load package_helpers

# The gzip header of FILE as "FLG MTIME XFL": 0 0 2 for gzip -9n (no name,
# no time stamp, best compression).
gzip_header() {
    od -An -tu1 -j3 -N6 "$1" | awk '{print $1, $2 + $3 + $4 + $5, $6}'
}

@test "make package made the four packages for amd64 and i386, and nothing else" {
    local want=() arch package
    for arch in "${ARCHES[@]}"; do
        for package in "${ALL_PACKAGES[@]}"; do want+=("$(basename "$(deb "$package" "$arch")")"); done
    done
    run bash -c "cd '$PACKAGES' && ls *.deb"
    [ "$output" = "$(printf '%s\n' "${want[@]}" | sort)" ]
}

@test "each package installs exactly its files, libraries in the architecture's folder" {
    local arch lib
    for arch in "${ARCHES[@]}"; do
        lib="usr/lib/$(triplet "$arch")"
        run deb_files "$(deb libnsfmend0 "$arch")"
        [ "$output" = "$lib/libnsfmend.so.0
$lib/libnsfmend.so.0.1.0
usr/share/doc/libnsfmend0/changelog.gz
usr/share/doc/libnsfmend0/copyright" ]
        run deb_files "$(deb libnsfmend-dev "$arch")"
        [ "$output" = "usr/include/nsfmend/agent.h
$lib/libnsfmend.so
$lib/pkgconfig/nsfmend.pc
usr/share/doc/libnsfmend-dev/changelog.gz
usr/share/doc/libnsfmend-dev/copyright" ]
        run deb_files "$(deb nsfmend "$arch")"
        [ "$output" = "usr/bin/nsfmend
usr/share/doc/nsfmend/changelog.gz
usr/share/doc/nsfmend/copyright
usr/share/doc/nsfmend/user-guide.md.gz
usr/share/man/man1/nsfmend.1.gz" ]
        run deb_files "$(deb nsfmend-emulator "$arch")"
        [ "$output" = "usr/bin/notesemu
$lib/nsfmend-emulator/libnotes.so
usr/share/doc/nsfmend-emulator/changelog.gz
usr/share/doc/nsfmend-emulator/copyright
usr/share/doc/nsfmend-emulator/emulator-runtime.md.gz
usr/share/doc/nsfmend-emulator/emulator.md.gz
usr/share/man/man1/notesemu.1.gz" ]
        # The links point where Debian's library layout has them.
        [ "$(readlink "$(unpacked libnsfmend0 "$arch")/$lib/libnsfmend.so.0")" = libnsfmend.so.0.1.0 ]
        [ "$(readlink "$(unpacked libnsfmend-dev "$arch")/$lib/libnsfmend.so")" = libnsfmend.so.0 ]
    done
}

@test "control fields: the library split is Multi-Arch: same, every package names its source and maintainer" {
    local arch package sections=(libs libdevel admin devel) i maintainer
    maintainer=$(control_field "$(deb nsfmend amd64)" Maintainer)
    [[ $maintainer =~ ^[^@\<]+\ \<[^@\>]+@[^@\>]+\>$ ]]
    for arch in "${ARCHES[@]}"; do
        for i in "${!ALL_PACKAGES[@]}"; do
            package=${ALL_PACKAGES[$i]}
            run control_field "$(deb "$package" "$arch")" Package Version Architecture Section Source \
                Maintainer Priority
            [ "$output" = "Package: $package
Version: $VERSION
Architecture: $arch
Section: ${sections[$i]}
Source: nsfmend
Maintainer: $maintainer
Priority: optional" ]
            run control_field "$(deb "$package" "$arch")" Multi-Arch
            if [[ $package == libnsfmend* ]]; then [ "$output" = same ]; else [ "$output" = no ]; fi
        done
        [ "$(control_field "$(deb libnsfmend-dev "$arch")" Depends)" = "libnsfmend0 (= $VERSION)" ]
    done
}

@test "every package carries the same machine-readable copyright, Apache-2.0 by reference" {
    local arch package first copyright
    first="$(unpacked nsfmend amd64)/usr/share/doc/nsfmend/copyright"
    head -n 1 "$first" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/'
    grep -qx 'License: Apache-2.0' "$first"
    grep -q '/usr/share/common-licenses/Apache-2.0' "$first"
    grep -qx "Upstream-Contact: $(control_field "$(deb nsfmend amd64)" Maintainer)" "$first"
    for arch in "${ARCHES[@]}"; do
        for package in "${ALL_PACKAGES[@]}"; do
            copyright="$(unpacked "$package" "$arch")/usr/share/doc/$package/copyright"
            cmp "$first" "$copyright"
        done
    done
}

@test "every package's changelog is this version's Debian changelog, the same bytes everywhere" {
    local arch package first
    first="$(unpacked nsfmend amd64)/usr/share/doc/nsfmend/changelog.gz"
    zcat "$first" >"$BATS_TEST_TMPDIR/changelog"
    run -0 dpkg-parsechangelog -l "$BATS_TEST_TMPDIR/changelog" -S Source
    [ "$output" = nsfmend ]
    run -0 dpkg-parsechangelog -l "$BATS_TEST_TMPDIR/changelog" -S Version
    [ "$output" = "$VERSION" ]
    run -0 dpkg-parsechangelog -l "$BATS_TEST_TMPDIR/changelog" -S Maintainer
    [ "$output" = "$(control_field "$(deb nsfmend amd64)" Maintainer)" ]
    # Made from CHANGELOG.md: the first item of its newest release (not of
    # what is still unreleased) opens the newest entry.
    local item
    item=$(sed -n '/^## [0-9]/,$p' "$SOURCE_DIR/CHANGELOG.md" | sed -n '0,/^- /s/^- //p')
    grep -qF "  * $item" "$BATS_TEST_TMPDIR/changelog"
    for arch in "${ARCHES[@]}"; do
        for package in "${ALL_PACKAGES[@]}"; do
            # Multi-Arch: same packages may share a file only byte for byte.
            cmp "$first" "$(unpacked "$package" "$arch")/usr/share/doc/$package/changelog.gz"
        done
    done
}

@test "manual pages, the changelog and documents are gzip -9n of their sources" {
    local root gz
    root=$(unpacked nsfmend i386)
    cmp <(zcat "$root/usr/share/man/man1/nsfmend.1.gz") "$SOURCE_DIR/docs/nsfmend.1"
    cmp <(zcat "$root/usr/share/doc/nsfmend/user-guide.md.gz") "$SOURCE_DIR/docs/user-guide.md"
    root=$(unpacked nsfmend-emulator amd64)
    cmp <(zcat "$root/usr/share/man/man1/notesemu.1.gz") "$SOURCE_DIR/docs/notesemu.1"
    cmp <(zcat "$root/usr/share/doc/nsfmend-emulator/emulator.md.gz") "$SOURCE_DIR/docs/emulator.md"
    for gz in $(find "$BATS_FILE_TMPDIR/unpacked" -name '*.gz'); do
        [ "$(gzip_header "$gz")" = "0 0 2" ] || { echo "$gz: $(gzip_header "$gz")"; false; }
    done
    # The developer README stays in the source tree.
    run ! bash -c "find '$BATS_FILE_TMPDIR/unpacked' -iname 'README*' | grep ."
}
