#!/usr/bin/env bash
# Sets up and runs the whole suite: plain, then under AddressSanitizer and UBSan, then the
# runs that convert pages on several threads under ThreadSanitizer, then a short seeded fuzz
# run of every fuzz target, then the 64-bit and 32-bit Windows builds' tests under wine
# (scripts/build-win.sh; the 32-bit one's only where the kernel runs 32-bit programs). Every build option a step relies on is set
# here, whatever a folder was configured with before (scripts/run-sample.sh shares build/),
# and a step that ran no test fails the command.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh clang libclang-rt-14-dev
jobs=$(nproc)
options=(-DPELC_TESTS=ON -DPELC_BENCH=OFF -DPELC_FUZZ=OFF -DPELC_WERROR=ON)

# run_tests NAME FOLDER: runs every test built in FOLDER (only those matching $TESTS, a
# CTest regular expression, when set); fails when none ran.
run_tests() {
    local name=$1 folder=$2
    local log="$folder/ctest.log" status=0
    (cd "$folder" && ctest --output-on-failure --no-tests=error -j "$jobs" ${TESTS:+-R "$TESTS"}) \
        2>&1 | tee "$log" || status=$?
    local ran
    ran=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n 1)
    echo "$name: ${ran:-0} tests ran"
    [ "$status" -eq 0 ] && [ "${ran:-0}" -gt 0 ]
}

# run_suite NAME FOLDER [cmake options...]: configures, builds and runs the tests there.
run_suite() {
    local name=$1 folder=$2
    shift 2
    cmake -S . -B "$folder" -G Ninja "${options[@]}" "$@" >/dev/null
    cmake --build "$folder" -j "$jobs"
    run_tests "$name" "$folder"
}

all_areas="platform;core;tiff;bitmap;jpegout;readers;app"
run_suite plain build -DCMAKE_BUILD_TYPE=Release -DPELC_SANITIZE=OFF -DPELC_TSAN=OFF \
    "-DPELC_TEST_AREAS=$all_areas"
ASAN_OPTIONS=detect_leaks=1 run_suite sanitized build-san -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPELC_SANITIZE=ON -DPELC_TSAN=OFF "-DPELC_TEST_AREAS=$all_areas"
# A race reported in pelc ends it with TSan's exit code, which fails the test that ran it.
TESTS='^(ParallelRun|ConversionDriver|ProgramEnvironment)\.' \
    TSAN_OPTIONS=halt_on_error=1 run_suite threads build-tsan \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELC_SANITIZE=OFF -DPELC_TSAN=ON -DPELC_TEST_AREAS=app
fuzz/run.sh --short

# windows NAME FOLDER ARCH: builds pelc.exe for ARCH into FOLDER and runs its tests under
# wine, among them the check that pages of every compression in ../shared/corpus give the
# Linux build's JPEG bytes (the plain build's pelc).
windows() {
    local name=$1 folder=$2 arch=$3 start status=0
    start=$(date +%s)
    scripts/build-win.sh --arch "$arch" "${options[@]}" -DPELC_SANITIZE=OFF -DPELC_TSAN=OFF \
        -DPELC_TEST_AREAS=windows "-DPELC_LINUX_PELC=$PWD/build/pelc"
    run_tests "$name" "$folder" || status=$?
    if [ -z "${TESTS:-}" ] && ! grep -q 'CorpusParity.*Passed' "$folder/ctest.log"; then
        echo "$name: the corpus check against the Linux build did not pass"
        status=1
    fi
    # wine's server outlives the last test by a few seconds; the step ends after it.
    WINEPREFIX="$PWD/$folder/wine" wineserver -w
    echo "$name: $(($(date +%s) - start)) s (build and tests under wine)"
    return "$status"
}
# Whether this machine runs 32-bit x86 programs, as wine runs every 32-bit Windows program:
# some virtual machines' kernels run none. A program of three instructions that exits 0 tells.
runs_32bit_programs() {
    local probe runs=0
    probe=$(mktemp)
    # An ELF header, one loadable segment, then mov eax, 1; xor ebx, ebx; int 0x80.
    printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\135\000\000\000\135\000\000\000\005\000\000\000\000\020\000\000\270\001\000\000\000\061\333\315\200' >"$probe"
    chmod +x "$probe"
    "$probe" 2>/dev/null || runs=1
    rm -f "$probe"
    return "$runs"
}

status=0
windows windows build-win x86_64 || status=$?
if runs_32bit_programs; then
    windows windows32 build-win32 i686 || status=$?
else
    # Built all the same, so the 32-bit build still compiles and links with every library.
    scripts/build-win.sh --arch i686 --no-wine "${options[@]}" -DPELC_TESTS=OFF
    echo "windows32: NOT RUN: this machine's kernel runs no 32-bit x86 programs, so wine cannot" \
        "run the 32-bit pelc.exe; it was built, its tests were not run"
fi
exit "$status"
