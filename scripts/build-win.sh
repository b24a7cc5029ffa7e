#!/usr/bin/env bash
# Builds build-win/pelc.exe (64-bit Windows, statically linked) and its tests with
# mingw-w64, ready to run under wine. Installs what is missing with apt-get, generates the
# Japanese locale wine takes code page 932 from, and builds zlib, libjpeg-turbo and libtiff
# for Windows from Debian's source packages into build-win/deps once; later runs reuse them.
# Usage: scripts/build-win.sh [cmake options...]   (e.g. -DPELC_TESTS=OFF)
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
build="$repo/build-win"
deps="$build/deps"
sources="$build/deps-src"
toolchain="$repo/cmake/mingw-w64-x86_64.cmake"
jobs=$(($(nproc) < 2 ? $(nproc) : 2))

# Versions the main bookworm archive holds; the security archive's sources may not be
# served. Another version is taken only when the archive has moved on.
zlib_version=1:1.2.13.dfsg-1
jpeg_version=1:2.1.5-2
tiff_version=4.5.0-6+deb12u4

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# wine shows argument and file name bytes in the ANSI code page of the Unix locale, so
# the locale a Japanese Windows corresponds to must exist.
generate_japanese_locale() {
    locale -a 2>/dev/null | grep -qix 'ja_JP.utf8' && return
    as_root sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen ||
        echo 'ja_JP.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
    as_root locale-gen >/dev/null
}

# apt-get source needs a deb-src entry; it is added for the Debian mirror this machine
# already uses, main archive only.
enable_debian_sources() {
    apt-cache showsrc zlib 2>/dev/null | grep -q '^Package: zlib' && return
    local mirror=""
    local deb822=/etc/apt/sources.list.d/debian.sources one_line=/etc/apt/sources.list
    if [ -f "$deb822" ]; then
        mirror=$(awk '/^URIs:/ && $2 !~ /security/ {print $2; exit}' "$deb822")
    fi
    if [ -z "$mirror" ] && [ -f "$one_line" ]; then
        mirror=$(awk '$1 == "deb" && $2 ~ /^http/ && $2 !~ /security/ {print $2; exit}' "$one_line")
    fi
    mirror=${mirror:-http://deb.debian.org/debian}
    echo "adding deb-src for $mirror bookworm main"
    printf 'Types: deb-src\nURIs: %s\nSuites: bookworm\nComponents: main\nSigned-By: %s\n' \
        "$mirror" /usr/share/keyrings/debian-archive-keyring.gpg |
        as_root tee /etc/apt/sources.list.d/pelc-deb-src.sources >/dev/null
    as_root apt-get update -qq
}

# fetch_source PACKAGE VERSION: unpacks the Debian source package (patches applied) under
# $sources once and prints its folder.
fetch_source() {
    local package=$1 version=$2
    if ! apt-cache showsrc "$package" | grep -qx "Version: $version"; then
        local offered
        offered=$(apt-cache showsrc "$package" | sed -n 's/^Version: //p' | head -n 1)
        echo "$package $version is no longer in the archive; taking $offered" >&2
        version=$offered
    fi
    local upstream=${version#*:}
    upstream=${upstream%-*}
    local folder="$sources/$package-$upstream"
    [ -f "$sources/$package.fetched" ] && [ "$(cat "$sources/$package.fetched")" = "$version" ] &&
        [ -d "$folder" ] && { echo "$folder"; return; }
    rm -rf "$folder"
    mkdir -p "$sources"
    (cd "$sources" && apt-get source -qq "$package=$version" >/dev/null 2>&1) ||
        { echo "apt-get source $package=$version failed" >&2; return 1; }
    [ -d "$folder" ] || folder=$(find "$sources" -maxdepth 1 -type d -name "$package-*" | head -n 1)
    echo "$version" >"$sources/$package.fetched"
    echo "$folder"
}

# built NAME VERSION: true when NAME was built into $deps from VERSION, its licence texts
# beside it for the Windows package.
built() {
    [ -f "$deps/built/$1" ] && [ "$(cat "$deps/built/$1")" = "$2" ] && [ -d "$deps/licenses/$1" ]
}
# mark_built NAME VERSION SOURCE LICENCE_FILES...
mark_built() {
    local name=$1 version=$2 src=$3
    shift 3
    mkdir -p "$deps/built" "$deps/licenses/$name"
    local file
    for file in "$@"; do cp "$src/$file" "$deps/licenses/$name/"; done
    echo "$version" >"$deps/built/$name"
}

# zlib's -dfsg tarball lacks win32/, which its own build scripts need for the DLL; only the
# static library is wanted, so its sources are compiled directly.
build_zlib() {
    built zlib "$zlib_version" && return
    local src
    src=$(fetch_source zlib "$zlib_version")
    local objects="$build/deps-build/zlib"
    rm -rf "$objects" && mkdir -p "$objects" "$deps/include" "$deps/lib"
    local unit
    for unit in adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast \
        inflate inftrees trees uncompr zutil; do
        x86_64-w64-mingw32-gcc-posix -O2 -c "$src/$unit.c" -o "$objects/$unit.o"
    done
    rm -f "$deps/lib/libz.a"
    x86_64-w64-mingw32-gcc-ar-posix rcs "$deps/lib/libz.a" "$objects"/*.o
    cp "$src/zlib.h" "$src/zconf.h" "$deps/include/"
    mark_built zlib "$zlib_version" "$src" LICENSE
}

build_libjpeg_turbo() {
    built libjpeg-turbo "$jpeg_version" && return
    local src
    src=$(fetch_source libjpeg-turbo "$jpeg_version")
    local work="$build/deps-build/libjpeg-turbo"
    rm -rf "$work"
    cmake -S "$src" -B "$work" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$deps" -Wno-dev \
        -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DREQUIRE_SIMD=ON >/dev/null
    cmake --build "$work" -j "$jobs" --target jpeg-static
    mkdir -p "$deps/include" "$deps/lib"
    cp "$work/libjpeg.a" "$deps/lib/"
    cp "$work/jconfig.h" "$src/jerror.h" "$src/jmorecfg.h" "$src/jpeglib.h" "$deps/include/"
    mark_built libjpeg-turbo "$jpeg_version" "$src" LICENSE.md README.ijg
}

# libtiff reads what pelc meets in scans: its built-in codecs plus deflate (zlib), JPEG and
# old-style JPEG. Codecs that need further libraries are left out.
build_libtiff() {
    built libtiff "$tiff_version" && return
    local src
    src=$(fetch_source tiff "$tiff_version")
    local work="$build/deps-build/tiff"
    rm -rf "$work"
    cmake -S "$src" -B "$work" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$deps" \
        -DCMAKE_FIND_ROOT_PATH="$deps" -DBUILD_SHARED_LIBS=OFF \
        -Dtiff-tools=OFF -Dtiff-tests=OFF -Dtiff-contrib=OFF -Dtiff-docs=OFF \
        -Dzlib=ON -Djpeg=ON -Dold-jpeg=ON -Djpeg12=OFF -Dpixarlog=OFF -Djbig=OFF -Dlerc=OFF \
        -Dlzma=OFF -Dzstd=OFF -Dwebp=OFF -Dlibdeflate=OFF -Dcxx=OFF >/dev/null
    cmake --build "$work" -j "$jobs"
    cmake --install "$work" >/dev/null
    mark_built libtiff "$tiff_version" "$src" LICENSE.md
}

# wine sets up its Windows folder on first use; doing it once here, without the .NET and
# HTML engines it would offer to fetch, keeps that out of the first test's time.
prepare_wine() {
    [ -f "$build/wine/system.reg" ] && return
    mkdir -p "$build"
    WINEPREFIX="$build/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
        wineboot -i >/dev/null 2>&1
    WINEPREFIX="$build/wine" wineserver -w
}

scripts/setup.sh g++-mingw-w64-x86-64-posix wine wine64 locales dpkg-dev xz-utils nasm
generate_japanese_locale
if ! built zlib "$zlib_version" || ! built libjpeg-turbo "$jpeg_version" ||
    ! built libtiff "$tiff_version"; then
    enable_debian_sources
fi
build_zlib
build_libjpeg_turbo
build_libtiff

cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DPELC_DEPS_PREFIX="$deps" "$@" >/dev/null
cmake --build "$build" -j "$jobs"
prepare_wine
echo "built $build/pelc.exe"
