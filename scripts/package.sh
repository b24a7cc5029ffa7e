#!/usr/bin/env bash
# Builds the release packages into build-package/, the same bytes from the same commit:
#   pelc_<version>_amd64.deb   /usr/bin/pelc (Debian's hardening flags), its manual page, the
#                              copyright file and the changelog
#   pelc-<version>-win64.zip   pelc.exe for 64-bit Windows (build-win/), and
#   pelc-<version>-win32.zip   for 32-bit Windows (build-win32/), each with a README for
#                              Windows users, the licence and every linked library's notices
# The Windows libraries are built from exactly the versions installed here; the script fails
# when the archive does not serve one of their sources (--test-libraries takes the nearest
# one served instead, for zips that are not released).
# MAINTAINER="Name <address>" sets the .deb's Maintainer (whoever publishes it).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
out="$repo/build-package"
jobs=$(($(nproc) < 2 ? $(nproc) : 2))
release=--release
[ "${1:-}" = --test-libraries ] && release=
maintainer=${MAINTAINER:-pelc maintainers <pelc@example.org>}
version=$(sed -n 's/^project(pelc VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

# dpkg-dev: dpkg-buildflags, dpkg-shlibdeps (with file); git for the commit's time; zip for
# the Windows packages.
scripts/setup.sh --only g++ cmake ninja-build pkg-config libtiff-dev libjpeg62-turbo-dev \
    dpkg-dev file git zip
# Every date in the packages is the last commit's: a file's time changes from one clone to
# the next, so without git the release's time must be given.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) ||
        { echo "not a git checkout: set SOURCE_DATE_EPOCH to the release's time" >&2; exit 1; }
fi
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C
rm -rf "$out"
mkdir -p "$out"

# stamp FOLDER: the same owner-independent modes and dates on everything in FOLDER.
stamp() {
    find "$1" -type d -exec chmod 0755 {} +
    find "$1" -type f -exec chmod 0644 {} +
    find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
}

build_deb() {
    local build="$out/linux" root="$out/deb"
    export DEB_BUILD_MAINT_OPTIONS=hardening=+all
    local cppflags
    cppflags=$(dpkg-buildflags --get CPPFLAGS)
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELC_TESTS=OFF \
        -DPELC_BENCH=OFF -DPELC_FUZZ=OFF -DPELC_SANITIZE=OFF -DPELC_TSAN=OFF \
        "-DCMAKE_CXX_FLAGS=$(dpkg-buildflags --get CXXFLAGS) $cppflags -ffile-prefix-map=$repo=." \
        "-DCMAKE_C_FLAGS=$(dpkg-buildflags --get CFLAGS) $cppflags -ffile-prefix-map=$repo=." \
        "-DCMAKE_EXE_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)" >/dev/null
    cmake --build "$build" -j "$jobs" --target pelc

    local doc="$root/usr/share/doc/pelc"
    mkdir -p "$root/DEBIAN" "$root/usr/bin" "$root/usr/share/man/man1" "$doc"
    strip --strip-unneeded --remove-section=.comment --remove-section=.note \
        -o "$root/usr/bin/pelc" "$build/pelc"
    gzip -9n -c docs/pelc.1 >"$root/usr/share/man/man1/pelc.1.gz"
    gzip -9n -c packaging/changelog >"$doc/changelog.gz"
    cp packaging/copyright "$doc/copyright"
    stamp "$root"
    chmod 0755 "$root/usr/bin/pelc"

    # dpkg-shlibdeps names the library packages pelc links, as Debian's own packages do.
    local depends work="$out/shlibdeps"
    mkdir -p "$work/debian"
    printf 'Source: pelc\n\nPackage: pelc\nArchitecture: any\n' >"$work/debian/control"
    depends=$(cd "$work" && dpkg-shlibdeps -O "$root/usr/bin/pelc" 2>/dev/null |
        sed -n 's/^shlibs:Depends=//p')
    cat >"$root/DEBIAN/control" <<EOF
Package: pelc
Version: $version
Architecture: $(dpkg --print-architecture)
Maintainer: $maintainer
Installed-Size: $(du -sk --exclude=DEBIAN "$root" | cut -f1)
Depends: $depends
Section: graphics
Priority: optional
Description: converts multi-page TIFF files into one JPEG file per page
 pelc writes each page of each TIFF file it is given (Classic TIFF or BigTIFF)
 as a JPEG file beside it, named <base>_<page>.jpg, turned the right way up.
 Old-style JPEG pages that already hold a complete JPEG of the page are copied
 byte for byte; every other page is encoded at quality 75.
 .
 Each output keeps its earlier bytes until a whole new JPEG replaces it, and
 everything written is on stable storage when the run ends, so a script may
 delete its TIFF files after pelc. A file or page that cannot be converted is
 reported on its own line and the run goes on.
EOF
    (cd "$root" && find usr -type f | sort | xargs md5sum) >"$root/DEBIAN/md5sums"
    stamp "$root/DEBIAN"
    chmod 0755 "$root/usr/bin/pelc"
    dpkg-deb --root-owner-group -Zxz --build "$root" "$out/pelc_${version}_$(dpkg --print-architecture).deb" \
        >/dev/null
}

# build_zip ARCH FOLDER NAME: pelc.exe for ARCH and what Windows users need beside it.
build_zip() {
    local arch=$1 folder=$2 name=$3
    scripts/build-win.sh --arch "$arch" --no-wine $release -DPELC_TESTS=OFF
    local stage="$out/$name"
    mkdir -p "$stage"
    "$arch-w64-mingw32-strip" -o "$stage/pelc.exe" "$folder/pelc.exe"
    # A byte order mark, so Notepad reads the Japanese texts as UTF-8 rather than code page 932.
    { printf '\xef\xbb\xbf'; sed 's/$/\r/' packaging/README-windows.txt; } >"$stage/README.txt"
    sed 's/$/\r/' LICENSE >"$stage/LICENSE.txt"
    cp -r "$folder/deps/licenses" "$stage/licenses"
    {
        echo "pelc.exe contains the following libraries, built from Debian's source packages of"
        echo "the versions listed; their licence texts are in licenses\\<name>\\."
        echo
        local from
        for from in "$folder"/deps/built/*.from; do
            echo "  $(basename "$from" .from) $(cat "$from")"
        done
        echo "  the mingw-w64 runtime: winpthreads and the gdtoa code of its printf"
        echo
        echo "This software is based in part on the work of the Independent JPEG Group."
        echo
        echo "jbigkit is licensed under the GNU General Public License, version 2 or later"
        echo "(licenses\\jbigkit\\COPYING); its source is Debian's jbigkit source package of"
        echo "the version above."
    } | sed 's/$/\r/' >"$stage/NOTICES.txt"
    stamp "$stage"
    (cd "$stage" && find . -type f | sed 's|^\./||' | sort | zip -X -q -9 "$out/$name.zip" -@)
}

build_deb
build_zip x86_64 build-win "pelc-$version-win64"
build_zip i686 build-win32 "pelc-$version-win32"
rm -rf "$out/linux" "$out/deb" "$out/shlibdeps" "$out/pelc-$version-win64" "$out/pelc-$version-win32"
ls -l "$out"
