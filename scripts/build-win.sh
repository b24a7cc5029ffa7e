#!/usr/bin/env bash
# Builds pelc.exe for Windows (statically linked) and its tests with mingw-w64, ready to run
# under wine: build-win/ for 64-bit (x86_64), build-win32/ for 32-bit (i686). Installs what
# is missing with apt-get, generates the Japanese locale wine takes code page 932 from, and
# builds zlib, libjpeg-turbo, libtiff and every library Debian's libtiff decodes with
# (liblzma, zstd, libwebp, lerc, jbigkit, libdeflate) for Windows into <build>/deps, from
# Debian's source packages of exactly the versions this machine has installed; a later run
# rebuilds only what changed version.
# Usage: scripts/build-win.sh [--arch x86_64|i686] [--no-wine] [cmake options...]
#   --no-wine  builds pelc.exe only, for packaging: no wine, GoogleTest or locale set-up
#              (pass -DPELC_TESTS=OFF with it)
#   --release  fails unless every library is built from exactly the installed version
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

arch=x86_64
wine=yes
release=no
cmake_options=()
while [ $# -gt 0 ]; do
    case $1 in
    --arch) arch=${2:-}; shift 2 || { echo "--arch needs x86_64 or i686" >&2; exit 2; } ;;
    --arch=*) arch=${1#--arch=}; shift ;;
    --no-wine) wine=no; shift ;;
    --release) release=yes; shift ;;
    *) cmake_options+=("$1"); shift ;;
    esac
done
case $arch in
x86_64) build="$repo/build-win" mingw_package=x86-64 ;;
i686) build="$repo/build-win32" mingw_package=i686 ;;
*) echo "unknown --arch '$arch' (x86_64 or i686)" >&2; exit 2 ;;
esac
triplet=$arch-w64-mingw32
cc=$triplet-gcc-posix
deps="$build/deps"
sources="$build/deps-src"
toolchain="$repo/cmake/mingw-w64-$arch.cmake"
jobs=$(($(nproc) < 2 ? $(nproc) : 2))
# No build folder in the objects, so two builds give the same bytes.
cflags=(-O2 "-ffile-prefix-map=$build=.")
# Floating point in SSE registers, as on x86_64: the x87 unit's wider intermediates would
# round libtiff's colour conversions (CIE L*a*b*) differently from the other builds.
[ "$arch" = x86_64 ] || cflags+=(-msse2 -mfpmath=sse)

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

# 32-bit Windows programs run in wine32, from Debian's i386 architecture.
enable_i386() {
    dpkg --print-foreign-architectures | grep -qx i386 && return
    as_root dpkg --add-architecture i386
    as_root apt-get update -qq
}

# The libraries, as "source-package runtime-package name": each is built from the source
# package of the version the runtime package installed here has, so pelc.exe decodes with
# the same code (security fixes included) as the Linux build.
libraries=(
    "zlib zlib1g zlib"
    "libjpeg-turbo libjpeg62-turbo libjpeg-turbo"
    "xz-utils liblzma5 liblzma"
    "libzstd libzstd1 zstd"
    "libwebp libwebp7 libwebp"
    "lerc liblerc4 lerc"
    "jbigkit libjbig0 jbigkit"
    "libdeflate libdeflate0 libdeflate"
    "tiff libtiff6 libtiff"
)
declare -A version
read_versions() {
    local entry source runtime name v
    for entry in "${libraries[@]}"; do
        read -r source runtime name <<<"$entry"
        # The machine's own architecture: wine32 brings i386 twins of some.
        v=$(dpkg-query -W -f='${source:Version}' "$runtime:$(dpkg --print-architecture)" \
            2>/dev/null) ||
            { echo "$runtime is not installed: no version to build $name from" >&2; exit 1; }
        version[$name]=$v
    done
}

# apt-get source needs deb-src entries: they are added for the Debian mirror this machine
# already uses, main and security archives, since the installed versions may come from
# either.
enable_debian_sources() {
    local mirror="" security=""
    local deb822=/etc/apt/sources.list.d/debian.sources one_line=/etc/apt/sources.list
    if [ -f "$deb822" ]; then
        mirror=$(awk '/^URIs:/ && $2 !~ /security/ {print $2; exit}' "$deb822")
        security=$(awk '/^URIs:/ && $2 ~ /security/ {print $2; exit}' "$deb822")
    fi
    if [ -f "$one_line" ]; then
        [ -n "$mirror" ] || mirror=$(awk '$1 == "deb" && $2 ~ /^http/ && $2 !~ /security/ \
            {print $2; exit}' "$one_line")
        [ -n "$security" ] || security=$(awk '$1 == "deb" && $2 ~ /^http/ && $2 ~ /security/ \
            {print $2; exit}' "$one_line")
    fi
    mirror=${mirror:-http://deb.debian.org/debian}
    security=${security:-${mirror%/debian}/debian-security}
    local entries
    entries=$(printf 'Types: deb-src\nURIs: %s\nSuites: bookworm\nComponents: main\nSigned-By: %s\n\n' \
        "$mirror" /usr/share/keyrings/debian-archive-keyring.gpg
        printf 'Types: deb-src\nURIs: %s\nSuites: bookworm-security\nComponents: main\nSigned-By: %s\n' \
            "$security" /usr/share/keyrings/debian-archive-keyring.gpg)
    local file=/etc/apt/sources.list.d/pelc-deb-src.sources
    [ -f "$file" ] && [ "$(cat "$file")" = "$entries" ] && return
    echo "adding deb-src for $mirror bookworm and $security bookworm-security"
    echo "$entries" | as_root tee "$file" >/dev/null
    as_root apt-get update -qq
}

# fetch_source PACKAGE VERSION RUNTIME_PACKAGE: unpacks the Debian source package of that
# version (patches applied) under $sources once and prints its folder. An archive may list
# a version without serving its files (the security archive, for some sources, and the
# main archive once a version is superseded): a release build then fails; a test build takes
# the nearest version served, older first, and says so, since its tests check pelc, not the
# library's fixes.
fetch_source() {
    local package=$1 version=$2 runtime=$3
    local record="$sources/$package.fetched"
    if [ -f "$record" ] && [ "$(head -n 1 "$record")" = "$version" ]; then
        local folder
        folder=$(sed -n 2p "$record")
        [ -d "$folder" ] && { echo "$folder"; return; }
    fi
    rm -rf "$sources/$package"-* "$record"
    mkdir -p "$sources"
    local candidates=("$version") listed
    listed=$(apt-cache showsrc "$package" | sed -n 's/^Version: //p' | sort -u)
    if [ "$release" = no ]; then
        local v older=() newer=()
        for v in $listed; do
            if dpkg --compare-versions "$v" lt "$version"; then
                older+=("$v")
            elif dpkg --compare-versions "$v" gt "$version"; then
                newer+=("$v")
            fi
        done
        # After the wanted one: older ones newest first, then newer ones oldest first.
        mapfile -t candidates < <(printf '%s\n' "$version"
            printf '%s\n' "${older[@]}" | sort -rV | sed '/^$/d'
            printf '%s\n' "${newer[@]}" | sort -V | sed '/^$/d')
    fi
    local log="$sources/$package.log" taken=""
    for v in "${candidates[@]}"; do
        if (cd "$sources" && apt-get source -qq "$package=$v") >"$log" 2>&1; then
            taken=$v
            break
        fi
    done
    if [ -z "$taken" ]; then
        echo "no source of $package $version, the version of $runtime installed here, can be" \
            "fetched (the archives list: $(echo $listed)):" >&2
        grep '^E:' "$log" | head -n 3 >&2
        return 1
    fi
    if [ "$taken" != "$version" ]; then
        echo "WARNING: the archive does not serve the source of $package $version (the version" \
            "of $runtime installed here); built from $taken for the tests." \
            "A release build (--release) refuses this." >&2
    fi
    local upstream=${taken#*:}
    upstream=${upstream%-*}
    local folder="$sources/$package-$upstream"
    [ -d "$folder" ] || { echo "apt-get source $package=$taken gave no $folder" >&2; return 1; }
    printf '%s\n%s\n%s\n' "$version" "$folder" "$taken" >"$record"
    echo "$folder"
}

# What a library was built by besides its version: this script and the toolchain files,
# so that a change to a flag rebuilds them.
recipe=$(cat "$repo/scripts/build-win.sh" "$repo"/cmake/mingw-w64*.cmake | sha256sum | cut -c1-16)

# built NAME: true when NAME was built into $deps from the wanted version by this recipe,
# its licence texts beside it for the Windows package.
built() {
    [ -f "$deps/built/$1" ] && [ "$(cat "$deps/built/$1")" = "${version[$1]} $recipe" ] &&
        [ -d "$deps/licenses/$1" ] && [ -f "$deps/built/$1.from" ] &&
        { [ "$release" = no ] || [ "$(cat "$deps/built/$1.from")" = "${version[$1]}" ]; }
}
# mark_built NAME SOURCE LICENCE_FILES...
mark_built() {
    local name=$1 src=$2
    shift 2
    rm -rf "$deps/licenses/$name"
    mkdir -p "$deps/built" "$deps/licenses/$name"
    local file
    for file in "$@"; do cp "$src/$file" "$deps/licenses/$name/"; done
    echo "${version[$name]} $recipe" >"$deps/built/$name"
}

# compile_archive NAME LIBRARY SOURCE_FILES... (after --, compiler options): compiles C
# files straight into a static library, for libraries whose own build would make far more.
compile_archive() {
    local name=$1 library=$2
    shift 2
    local files=() options=()
    while [ $# -gt 0 ] && [ "$1" != -- ]; do files+=("$1"); shift; done
    [ $# -gt 0 ] && shift && options=("$@")
    local objects="$build/deps-build/$name"
    rm -rf "$objects" && mkdir -p "$objects" "$deps/lib"
    local file pids=() i=0
    for file in "${files[@]}"; do
        # Two compilers at a time.
        $cc "${cflags[@]}" "${options[@]}" -c "$file" -o "$objects/$i-$(basename "${file%.c}").o" &
        pids+=($!)
        i=$((i + 1))
        if [ ${#pids[@]} -ge "$jobs" ]; then wait "${pids[0]}"; pids=("${pids[@]:1}"); fi
    done
    for i in "${pids[@]}"; do wait "$i"; done
    rm -f "$deps/lib/$library"
    $triplet-gcc-ar-posix rcs "$deps/lib/$library" "$objects"/*.o
}

# cmake_library SOURCE_FOLDER NAME TARGETS... (after --, cmake options): configures a
# library's own CMake build for Windows and builds only the targets named.
cmake_library() {
    local src=$1 name=$2
    shift 2
    local targets=() options=()
    while [ $# -gt 0 ] && [ "$1" != -- ]; do targets+=(--target "$1"); shift; done
    [ $# -gt 0 ] && shift && options=("$@")
    local work="$build/deps-build/$name"
    rm -rf "$work"
    cmake -S "$src" -B "$work" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE="${cflags[*]} -DNDEBUG" \
        -DCMAKE_CXX_FLAGS_RELEASE="${cflags[*]} -DNDEBUG" --no-warn-unused-cli \
        -DCMAKE_INSTALL_PREFIX="$deps" -DCMAKE_FIND_ROOT_PATH="$deps" -DBUILD_SHARED_LIBS=OFF \
        -Wno-dev "${options[@]}" >/dev/null
    cmake --build "$work" -j "$jobs" "${targets[@]}" >/dev/null
}

# zlib's -dfsg tarball lacks win32/, which its own build scripts need for the DLL; only the
# static library is wanted, so its sources are compiled directly.
build_zlib() {
    local src=$1 unit files=()
    for unit in adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast \
        inflate inftrees trees uncompr zutil; do files+=("$src/$unit.c"); done
    compile_archive zlib libz.a "${files[@]}"
    mkdir -p "$deps/include"
    cp "$src/zlib.h" "$src/zconf.h" "$deps/include/"
    mark_built zlib "$src" LICENSE
}

build_libjpeg_turbo() {
    local src=$1
    cmake_library "$src" libjpeg-turbo jpeg-static -- \
        -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DREQUIRE_SIMD=ON
    local work="$build/deps-build/libjpeg-turbo"
    mkdir -p "$deps/include" "$deps/lib"
    cp "$work/libjpeg.a" "$deps/lib/"
    cp "$work/jconfig.h" "$src/jerror.h" "$src/jmorecfg.h" "$src/jpeglib.h" "$deps/include/"
    mark_built libjpeg-turbo "$src" LICENSE.md README.ijg
}

build_liblzma() {
    local src=$1
    cmake_library "$src" liblzma liblzma -- -DENABLE_NLS=OFF
    local work="$build/deps-build/liblzma"
    mkdir -p "$deps/include" "$deps/lib"
    cp "$work/liblzma.a" "$deps/lib/"
    cp -r "$src/src/liblzma/api/lzma.h" "$src/src/liblzma/api/lzma" "$deps/include/"
    mark_built liblzma "$src" COPYING COPYING.GPLv2 COPYING.LGPLv2.1
}

build_zstd() {
    local src=$1
    # Only decoding and single-threaded encoding are used: no thread library is needed.
    cmake_library "$src/build/cmake" zstd libzstd_static -- \
        -DZSTD_BUILD_PROGRAMS=OFF -DZSTD_BUILD_TESTS=OFF -DZSTD_BUILD_SHARED=OFF \
        -DZSTD_BUILD_STATIC=ON -DZSTD_MULTITHREAD_SUPPORT=OFF -DZSTD_LEGACY_SUPPORT=OFF
    local work="$build/deps-build/zstd"
    mkdir -p "$deps/include" "$deps/lib"
    cp "$work/lib/libzstd.a" "$deps/lib/"
    cp "$src/lib/zstd.h" "$src/lib/zstd_errors.h" "$src/lib/zdict.h" "$deps/include/"
    mark_built zstd "$src" LICENSE COPYING
}

build_libwebp() {
    local src=$1
    cmake_library "$src" libwebp webp -- \
        -DWEBP_BUILD_ANIM_UTILS=OFF -DWEBP_BUILD_CWEBP=OFF -DWEBP_BUILD_DWEBP=OFF \
        -DWEBP_BUILD_GIF2WEBP=OFF -DWEBP_BUILD_IMG2WEBP=OFF -DWEBP_BUILD_VWEBP=OFF \
        -DWEBP_BUILD_WEBPINFO=OFF -DWEBP_BUILD_WEBPMUX=OFF -DWEBP_BUILD_EXTRAS=OFF \
        -DWEBP_BUILD_LIBWEBPMUX=OFF
    local work="$build/deps-build/libwebp"
    mkdir -p "$deps/include/webp" "$deps/lib"
    cp "$work"/libwebp.a "$deps/lib/"
    cp "$src"/src/webp/decode.h "$src"/src/webp/encode.h "$src"/src/webp/types.h \
        "$deps/include/webp/"
    mark_built libwebp "$src" COPYING PATENTS
}

build_lerc() {
    local src=$1
    cmake_library "$src" lerc Lerc
    local work="$build/deps-build/lerc"
    mkdir -p "$deps/include" "$deps/lib"
    cp "$work/libLerc.a" "$deps/lib/"
    cp "$src"/src/LercLib/include/Lerc_c_api.h "$src"/src/LercLib/include/Lerc_types.h \
        "$deps/include/"
    mark_built lerc "$src" LICENSE NOTICE
}

build_jbigkit() {
    local src=$1
    compile_archive jbigkit libjbig.a "$src/libjbig/jbig.c" "$src/libjbig/jbig_ar.c"
    mkdir -p "$deps/include"
    cp "$src/libjbig/jbig.h" "$src/libjbig/jbig_ar.h" "$deps/include/"
    mark_built jbigkit "$src" COPYING
}

build_libdeflate() {
    local src=$1
    compile_archive libdeflate libdeflate.a "$src"/lib/*.c "$src"/lib/x86/*.c \
        "$src"/lib/arm/*.c -- "-I$src"
    mkdir -p "$deps/include"
    cp "$src/libdeflate.h" "$deps/include/"
    mark_built libdeflate "$src" COPYING
}

# libtiff with every codec Debian's libtiff has: its built-in ones (LZW, PackBits, CCITT
# fax, ThunderScan, NeXT, LogLuv...) plus deflate and PixarLog (zlib, libdeflate), JPEG and
# old-style JPEG, JBIG, LZMA, ZSTD, WebP and LERC.
build_libtiff() {
    local src=$1
    # The static builds' headers would otherwise declare DLL imports.
    local static="-DLZMA_API_STATIC -DLERC_STATIC"
    cmake_library "$src" libtiff tiff -- \
        -DCMAKE_C_FLAGS="$static" -DCMAKE_CXX_FLAGS="$static" \
        -Dtiff-tools=OFF -Dtiff-tests=OFF -Dtiff-contrib=OFF -Dtiff-docs=OFF \
        -Dzlib=ON -Dlibdeflate=ON -Dpixarlog=ON -Djpeg=ON -Dold-jpeg=ON -Djpeg12=OFF \
        -Djbig=ON -Dlerc=ON -Dlzma=ON -Dzstd=ON -Dwebp=ON -Dcxx=OFF
    local work="$build/deps-build/libtiff" codec
    # A codec whose library was not found would silently be left out.
    for codec in ZIP_SUPPORT LIBDEFLATE_SUPPORT PIXARLOG_SUPPORT JPEG_SUPPORT OJPEG_SUPPORT \
        JBIG_SUPPORT LERC_SUPPORT LZMA_SUPPORT ZSTD_SUPPORT WEBP_SUPPORT; do
        grep -Eqx "#define $codec( 1)?" "$work/libtiff/tif_config.h" "$work/libtiff/tiffconf.h" ||
            { echo "libtiff for Windows was configured without $codec" >&2; return 1; }
    done
    mkdir -p "$deps/include" "$deps/lib"
    cp "$work/libtiff/libtiff.a" "$deps/lib/"
    cp "$src/libtiff/tiff.h" "$src/libtiff/tiffio.h" "$src/libtiff/tiffvers.h" \
        "$work/libtiff/tiffconf.h" "$deps/include/"
    mark_built libtiff "$src" LICENSE.md
}

# notices FILE PATTERN: the paragraphs of a Debian copyright file whose Files: field matches
# PATTERN, followed by the stand-alone texts of the licences they name.
notices() {
    awk -v RS= -v ORS='\n\n' -v want="$2" '
        FNR == NR {
            if ($0 ~ /^Files:/ && $0 ~ want) {
                print
                split($0, field, "\nLicense: ")
                split(field[2], name, "\n")
                named[name[1]] = 1
            }
            next
        }
        /^License:/ { split($0, name, "\n"); sub(/^License: /, "", name[1]); if (name[1] in named) print }
    ' "$1" "$1"
}

# pelc.exe links mingw-w64's winpthreads (std::thread) and its printf, which holds gdtoa's
# code: their notices ship beside the libraries'.
copy_runtime_notices() {
    local copyright=/usr/share/doc/mingw-w64-common/copyright
    [ -f "$copyright" ] || { echo "$copyright is missing" >&2; return 1; }
    mkdir -p "$deps/licenses/winpthreads" "$deps/licenses/gdtoa"
    notices "$copyright" 'winpthreads/(\\*|include|src)' >"$deps/licenses/winpthreads/copyright"
    notices "$copyright" 'crt/gdtoa/' >"$deps/licenses/gdtoa/copyright"
    grep -q Lockless "$deps/licenses/winpthreads/copyright" &&
        grep -q Lucent "$deps/licenses/gdtoa/copyright" ||
        { echo "no winpthreads or gdtoa notice in $copyright" >&2; return 1; }
}

# wine sets up its Windows folder on first use; doing it once here, without the .NET and
# HTML engines it would offer to fetch, keeps that out of the first test's time.
prepare_wine() {
    [ -f "$build/wine/system.reg" ] && return
    mkdir -p "$build"
    # The loader the tests run with (cmake/mingw-w64.cmake).
    local winearch=win64 loader
    loader=$(grep -m1 '^PELC_WINE\(32\|64\):' "$build/CMakeCache.txt" | cut -d= -f2-)
    [ "$arch" = i686 ] && winearch=win32
    WINEPREFIX="$build/wine" WINEARCH=$winearch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
        "${loader:-wine}" wineboot.exe -i >/dev/null 2>&1
    WINEPREFIX="$build/wine" wineserver -w
}

packages=("g++-mingw-w64-$mingw_package-posix" dpkg-dev xz-utils nasm libtiff6)
if [ "$wine" = yes ]; then
    if [ "$arch" = i686 ]; then
        enable_i386
        packages+=(wine wine32 locales)
    else
        packages+=(wine wine64 locales)
    fi
    scripts/setup.sh "${packages[@]}" # with GoogleTest
    generate_japanese_locale
else
    scripts/setup.sh --only cmake ninja-build "${packages[@]}"
fi

read_versions

missing=()
for entry in "${libraries[@]}"; do
    read -r source _ name <<<"$entry"
    # libtiff is compiled against the others' headers: it follows any of them.
    if ! built "$name" || { [ "$name" = libtiff ] && [ ${#missing[@]} -gt 0 ]; }; then
        missing+=("$entry")
    fi
done
[ ${#missing[@]} -eq 0 ] || enable_debian_sources
for entry in "${missing[@]}"; do
    read -r source runtime name <<<"$entry"
    start=$(date +%s)
    src=$(fetch_source "$source" "${version[$name]}" "$runtime")
    "build_${name//-/_}" "$src"
    sed -n 3p "$sources/$source.fetched" >"$deps/built/$name.from"
    echo "built $name $(cat "$deps/built/$name.from") for $arch in $(($(date +%s) - start)) s"
done
summary=""
for entry in "${libraries[@]}"; do
    read -r source _ name <<<"$entry"
    summary+="${summary:+, }$name $(cat "$deps/built/$name.from")"
done
echo "windows libraries ($arch): $summary"
copy_runtime_notices

cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DPELC_DEPS_PREFIX="$deps" "${cmake_options[@]}" >/dev/null
cmake --build "$build" -j "$jobs"
[ "$wine" = no ] || prepare_wine
echo "built $build/pelc.exe"
