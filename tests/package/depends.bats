#!/usr/bin/env bats
# The packages' Depends: from dpkg-shlibdeps for amd64, measured for i386
# (built with -m32 on an amd64 machine), and the measured way checked
# against dpkg-shlibdeps on the same binaries.

bats_require_minimum_version 1.5.0

load package_helpers

# The Depends entries of a line ("a, b (>= 1)"), one a line, sorted.
entries() { printf '%s\n' "$1" | sed 's/, /\n/g' | sort; }

# The measured Depends of the ELF files of an unpacked package.
measured() {
    # shellcheck disable=SC2046
    cmake -DNSFMEND_MEASURE="$(elf_files "$1" | paste -sd';')" -P "$SOURCE_DIR/cmake/PackageDepends.cmake"
}

# dpkg-shlibdeps' Depends of the ELF files of an unpacked package.
shlibdeps() {
    local work="$BATS_TEST_TMPDIR/shlibdeps" args=() f
    mkdir -p "$work/debian"
    printf 'Source: nsfmend\n\nPackage: nsfmend\nArchitecture: any\n' >"$work/debian/control"
    for f in $(elf_files "$1"); do args+=("-e$f"); done
    (cd "$work" && dpkg-shlibdeps -O "${args[@]}" 2>/dev/null) | sed -n 's/^shlibs:Depends=//p'
}

@test "amd64: Depends are dpkg-shlibdeps', and the measured way gives the same" {
    local package root depends
    for package in libnsfmend0 nsfmend nsfmend-emulator; do
        root=$(unpacked "$package" amd64)
        depends=$(control_field "$(deb "$package" amd64)" Depends)
        [ "$(entries "$depends")" = "$(entries "$(shlibdeps "$root")")" ] ||
            { echo "$package: $depends | shlibdeps: $(shlibdeps "$root")"; false; }
        [ "$(entries "$depends")" = "$(entries "$(measured "$root")")" ] ||
            { echo "$package: $depends | measured: $(measured "$root")"; false; }
    done
}

@test "i386: Depends are measured and name the i386 runtime, never the biarch one it was linked with" {
    local package root depends
    for package in libnsfmend0 nsfmend nsfmend-emulator; do
        root=$(unpacked "$package" i386)
        depends=$(control_field "$(deb "$package" i386)" Depends)
        [ "$depends" = "$(measured "$root")" ]
        [[ $depends == "libc6 (>= "* ]]
        [[ $depends != *i386* && $depends != *lib32* ]]
    done
    # What dpkg-shlibdeps would have named for the -m32 binaries: a biarch
    # package (libc6-i386, or lib32stdc++6 where the i386 libcurl brought
    # the i386 libc6 in).
    run shlibdeps "$(unpacked nsfmend i386)"
    [[ $output == *libc6-i386* || $output == *lib32* ]]
}

@test "only the C and C++ runtimes and libcurl: never the server's libnotes.so, never our own library" {
    local arch package
    for arch in "${ARCHES[@]}"; do
        for package in libnsfmend0 nsfmend nsfmend-emulator; do
            run control_field "$(deb "$package" "$arch")" Depends
            [[ $output =~ ^libc6\ \(\>=\ 2\.[0-9]+\)(,\ (libcurl4|libstdc\+\+6|libgcc-s1)\ \(\>=\ [0-9.]+\))+$ ]] ||
                { echo "$package $arch: $output"; false; }
            # Object stores are the program's and the library's, through libcurl.
            if [ "$package" = nsfmend-emulator ]; then
                [[ $output != *libcurl4* ]]
            else
                [[ $output == *"libcurl4 (>= "* ]] || { echo "$package $arch: $output"; false; }
            fi
            run control_field "$(deb "$package" "$arch")" Pre-Depends Recommends Suggests
            [ -z "$output" ]
        done
    done
}
