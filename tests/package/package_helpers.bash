# Shared set-up of the package tests. They read the .deb files that `make
# package` made for both architectures, as an administrator or an agent
# developer gets them, and never the build trees.
#   PACKAGES    the folder of the .deb files
#   SOURCE_DIR  the source tree (the symbols file, the C agent client)

: "${PACKAGES:?set by make testpkg}" "${SOURCE_DIR:?set by make testpkg}"

ARCHES=(amd64 i386)
# The architectures whose programs run here: make testpkg passes how the i386
# programs run (scripts/i386-runtime), and NSFMEND_I386_TESTS=build-only
# leaves them unrun.
if [ "${I386_RUN:-native}" = build-only ]; then RUN_ARCHES=(amd64); else RUN_ARCHES=("${ARCHES[@]}"); fi
VERSION=$(sed -n 's/^project(nsfmend VERSION \([0-9.]*\).*/\1/p' "$SOURCE_DIR/CMakeLists.txt")
LIB_PACKAGES=(libnsfmend0 libnsfmend-dev)
ALL_PACKAGES=(libnsfmend0 libnsfmend-dev nsfmend nsfmend-emulator)

# The .deb of PACKAGE for ARCH.
deb() { echo "$PACKAGES/${1}_${VERSION}_$2.deb"; }

# The multiarch triplet of a Debian architecture.
triplet() {
    case $1 in
        amd64) echo x86_64-linux-gnu ;;
        i386) echo i386-linux-gnu ;;
    esac
}

# The folder PACKAGE for ARCH is unpacked in (dpkg -x), unpacked once per file.
unpacked() {
    local dir="$BATS_FILE_TMPDIR/unpacked/$1_$2"
    if [ ! -d "$dir" ]; then
        mkdir -p "$dir"
        dpkg-deb -x "$(deb "$1" "$2")" "$dir"
    fi
    echo "$dir"
}

# The paths a package installs (files and links, not folders), sorted.
deb_files() {
    dpkg-deb --fsys-tarfile "$1" | tar -t | grep -v '/$' | sed 's|^\./||' | sort
}

# Every ELF file under a folder.
elf_files() {
    find "$1" -type f -exec sh -c 'head -c 4 "$1" | grep -q "^.ELF" && echo "$1"' _ {} \;
}

# Control fields of a .deb: control_field DEB FIELD...
control_field() {
    local file=$1
    shift
    dpkg-deb -f "$file" "$@"
}
