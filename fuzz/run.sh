#!/usr/bin/env bash
# Builds the libFuzzer targets and runs them.
#   fuzz/run.sh --short                      short, repeatable run of every target (-seed=1,
#                                            a fixed number of inputs); fails on any finding
#   fuzz/run.sh --time SECONDS [target...]   longer campaign of the named targets (default:
#                                            all), run side by side at low priority, keeping a
#                                            working corpus in build-fuzz/corpus-<target>
#   add --keep-going to a --time run to go on past findings (libFuzzer fork mode)
# Seeds are made at run time: small TIFF files written by make_seeds, the sample beside the
# sources and the shared corpus next to the repository (when present), never stored here.
# Findings land in build-fuzz/artifacts/<target>/, logs in build-fuzz/logs/.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build="$repo/build-fuzz"
targets_all=(fuzz_list_pages fuzz_jpeg_copy fuzz_convert)

usage() {
    sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
}

mode=""
seconds=0
keep_going=0
targets=()
while [ $# -gt 0 ]; do
    case "$1" in
    --short) mode=short ;;
    --time)
        mode=time
        [ $# -ge 2 ] || usage
        seconds=$2
        shift
        [[ "$seconds" =~ ^[0-9]+$ ]] && [ "$seconds" -gt 0 ] || usage
        ;;
    --keep-going) keep_going=1 ;;
    fuzz_*) targets+=("$1") ;;
    *) usage ;;
    esac
    shift
done
[ -n "$mode" ] || usage
[ ${#targets[@]} -gt 0 ] || targets=("${targets_all[@]}")
for t in "${targets[@]}"; do
    [[ " ${targets_all[*]} " == *" $t "* ]] || { echo "unknown target: $t" >&2; exit 2; }
done

# Input size limits: the structure readers see only headers and directories, the whole
# conversion needs room for a few small pages.
max_len_for() {
    case "$1" in
    fuzz_convert) echo 262144 ;;
    *) echo 65536 ;;
    esac
}
# Inputs of the short run, chosen so each target takes about half a minute here.
runs_for() {
    case "$1" in
    fuzz_list_pages) echo "${PELC_FUZZ_RUNS:-600000}" ;;
    fuzz_jpeg_copy) echo "${PELC_FUZZ_RUNS:-350000}" ;;
    fuzz_convert) echo "${PELC_FUZZ_RUNS:-4000}" ;;
    esac
}

build_targets() {
    # Every option is set on each run: a folder configured otherwise before is set right.
    CC=clang CXX=clang++ cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DPELC_FUZZ=ON -DPELC_TESTS=OFF -DPELC_SANITIZE=OFF -DPELC_BENCH=OFF >/dev/null
    cmake --build "$build" -j "$(nproc)" --target make_seeds "${targets[@]}" >"$build/build.log" 2>&1 || {
        tail -n 40 "$build/build.log" >&2
        echo "fuzz: build failed (full log: $build/build.log)" >&2
        exit 1
    }
}

# Fills folder $2 with the seeds for inputs of at most $1 bytes (the sample goes in whole:
# libFuzzer cuts longer inputs to max_len, and its first pages still count).
make_seed_folder() {
    local max_len=$1 folder=$2
    rm -rf "$folder"
    mkdir -p "$folder"
    "$build/fuzz/make_seeds" "$folder"
    cp "$repo/samples/sample.tif" "$folder/sample.tif"
    local corpus="$repo/../shared/corpus"
    if [ -d "$corpus" ]; then
        local n=0 f
        while IFS= read -r -d '' f; do
            n=$((n + 1))
            cp "$f" "$folder/corpus_$(printf '%03d' "$n")_$(basename "$f" | tr -c 'A-Za-z0-9._-' '_')"
        done < <(find "$corpus" -type f -size -"$((max_len + 1))"c \
            ! -name '*.md' ! -name '*.tsv' -print0 | sort -z)
    else
        echo "fuzz: no shared corpus at $corpus; seeding from built files and the sample only" >&2
    fi
}

# What a log says about the run: "<execs> <exec/s> <cov> <ft> <corpus>".
figures_of() {
    local log=$1 execs rate cov ft corp
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
    # Plain and fork mode both print "cov: N ft: N corp: N"; the last such line counts.
    local line
    line=$(grep -E 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+' "$log" | tail -n 1 || true)
    cov=$(sed -n 's/.*cov: \([0-9]*\).*/\1/p' <<<"$line")
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$line")
    corp=$(sed -n 's/.* corp: \([0-9]*\).*/\1/p' <<<"$line")
    if [ -z "$execs" ]; then
        # Fork mode prints no final stats; its progress lines start with "#<execs>:".
        execs=$(sed -n 's/^#\([0-9]*\).*/\1/p' <<<"$line")
        local seconds
        seconds=$(sed -n 's/.* time: \([0-9]*\)s.*/\1/p' <<<"$line")
        if [ -n "$execs" ] && [ -n "$seconds" ] && [ "$seconds" -gt 0 ]; then
            rate=$((execs / seconds))
        fi
    fi
    echo "${execs:-?} ${rate:-?} ${cov:-?} ${ft:-?} ${corp:-?}"
}

# The kind of finding a failed run's log reports.
finding_of() {
    local log=$1
    if grep -q 'ERROR: libFuzzer: timeout' "$log"; then echo timeout
    elif grep -q 'out-of-memory' "$log"; then echo out-of-memory
    elif grep -q 'ERROR: LeakSanitizer' "$log"; then echo leak
    elif grep -q 'runtime error:' "$log"; then echo undefined-behaviour
    elif grep -q 'ERROR: AddressSanitizer' "$log"; then
        grep -m 1 -o 'AddressSanitizer: [a-z-]*' "$log" | sed 's/AddressSanitizer: //'
    elif grep -q 'deadly signal' "$log"; then echo crash
    else echo "exit-status"
    fi
}

export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

# run_target TARGET CORPUS SEEDS LOG [libFuzzer flags...]; $priority prefixes the command.
priority=()
run_target() {
    local target=$1 corpus=$2 seeds=$3 log=$4
    shift 4
    local artifacts="$build/artifacts/$target"
    mkdir -p "$artifacts"
    local args=(-max_len="$(max_len_for "$target")" -rss_limit_mb=2048 -timeout=10
        -dict="$repo/fuzz/tiff.dict" -artifact_prefix="$artifacts/" -print_final_stats=1 "$@")
    ${priority[@]+"${priority[@]}"} "$build/fuzz/$target" "${args[@]}" "$corpus" ${seeds:+"$seeds"} \
        >"$log" 2>&1
}

report() {
    local target=$1 status=$2 log=$3 elapsed=$4 result
    read -r execs rate cov ft corp < <(figures_of "$log")
    if [ "$status" -eq 0 ]; then
        result=passed
    else
        result="FAILED ($(finding_of "$log"); input in $build/artifacts/$target/, log $log)"
    fi
    printf '%-16s %s execs, %s exec/s, cov %s, ft %s, corpus %s, %ss: %s\n' \
        "$target" "$execs" "$rate" "$cov" "$ft" "$corp" "$elapsed" "$result"
}

mkdir -p "$build/logs"
build_targets

passed=0
failed=0
if [ "$mode" = short ]; then
    scratch=$(mktemp -d "${TMPDIR:-/tmp}/pelc-fuzz-short.XXXXXX")
    trap 'rm -rf "$scratch"' EXIT
    for target in "${targets[@]}"; do
        corpus="$scratch/corpus-$target"
        make_seed_folder "$(max_len_for "$target")" "$corpus"
        log="$build/logs/$target-short.log"
        start=$SECONDS
        status=0
        run_target "$target" "$corpus" "" "$log" -seed=1 -runs="$(runs_for "$target")" || status=$?
        # A run that executed no input proves nothing: it counts as failed.
        read -r execs _ < <(figures_of "$log")
        if [ "$status" -eq 0 ] && ! [[ "$execs" =~ ^[1-9][0-9]*$ ]]; then
            echo "$target: no input was executed (log $log)" >&2
            status=1
        fi
        report "$target" "$status" "$log" $((SECONDS - start))
        if [ "$status" -eq 0 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
    done
else
    # Side by side on a shared machine: low priority.
    priority=(nice -n 10)
    pids=()
    for target in "${targets[@]}"; do
        corpus="$build/corpus-$target"
        seeds="$build/seeds-$target"
        mkdir -p "$corpus"
        make_seed_folder "$(max_len_for "$target")" "$seeds"
        log="$build/logs/$target-$(date +%Y%m%d-%H%M%S).log"
        extra=(-max_total_time="$seconds")
        if [ "$keep_going" -eq 1 ]; then
            extra+=(-fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1)
        fi
        (
            start=$SECONDS
            status=0
            run_target "$target" "$corpus" "$seeds" "$log" "${extra[@]}" || status=$?
            report "$target" "$status" "$log" $((SECONDS - start))
            exit "$status"
        ) &
        pids+=($!)
    done
    for pid in "${pids[@]}"; do
        if wait "$pid"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
    done
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
