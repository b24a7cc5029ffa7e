#!/usr/bin/env bash
# Times pelc against the converters users would otherwise reach for, and against the floor
# (bench/floor/floor.c: libtiff straight into libjpeg-turbo), on a generated corpus.
#
#   bench/run.sh [CORPUS_DIR]        (default: $WORK/corpus, built once by make_corpus.sh)
#
# For every corpus file: one warm-up round whose outputs are checked (JPEG count, bytes,
# PSNR of the second page against its source, JPEG sampling and density), then ROUNDS timed
# rounds. Within a round the tools take turns, and the order rotates from round to round,
# so a slow minute on the machine does not land on one tool. A tool whose warm-up fails,
# or takes longer than SLOW_S seconds, is not run again on that file: its warm-up is its
# only sample (n = 1 in the table).
#
# Every run converts SCRATCH/in.tif, a symlink to the corpus file, in a fresh scratch folder:
# pelc and the floor write their JPEGs beside the path they are given, so the outputs land
# in the scratch folder, and every tool reads and writes the same way.
#
# Tools: pelc (built here in Release), pelc-1cpu (the same under taskset on one CPU: the
#   one-worker reference for outputs, console and memory), floor, floor-grey (-g, one-sample files),
#   im (one convert command), im-pages (one ImageMagick process per page, fax only: one
#   command runs out of pixel cache there), gm (one command), vips (one process per page;
#   vips 8.14 has no page-per-file save). On files of more than VIPS_ALL_PAGES pages vips
#   converts every VIPS_STEP-th page only, spread over the whole file, and its ms/page is
#   per converted page.
#
# Env: ROUNDS (3), SLOW_S (15), FILES ("fax scan gray many100 many ojpeg"), TOOLS (filter),
#   WORK (${TMPDIR:-/tmp}/pelc-bench), SCRATCH ($WORK/scratch: where the outputs are written;
#   a folder on a memory file system takes the disk's file creation out of the figures),
#   BUILD_DIR ($WORK/build), PELC (a pelc binary to use
#   instead of building one), IM (convert-im6.q16), VIPS_ALL_PAGES (200), VIPS_STEP (10),
#   NO_INSTALL=1 (never call apt-get), REPORT=<results folder> (print the tables of an
#   earlier run again, and nothing else).
# Output: the tables on stdout, progress on stderr; raw rows in $WORK/results/<time>/.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
rounds=${ROUNDS:-3}
slow_us=$((${SLOW_S:-15} * 1000000))
files=${FILES:-fax scan gray many100 many ojpeg}
work=${WORK:-${TMPDIR:-/tmp}/pelc-bench}
build=${BUILD_DIR:-$work/build}
magick=${IM:-convert-im6.q16}
vips_all=${VIPS_ALL_PAGES:-200}
vips_step=${VIPS_STEP:-10}
corpus=${1:-$work/corpus}

say() { echo "$*" >&2; }

# Prints the tables of one run from the rows in folder $1.
report() {
python3 - "$1" <<'EOF'
import csv, os, statistics, sys

res = sys.argv[1]
def rows(name):
    with open(os.path.join(res, name), newline="") as f:
        return list(csv.DictReader(f, delimiter="\t"))

files = rows("files.tsv")
checks = {(c["file"], c["tool"]): c for c in rows("checks.tsv")}
runs = {}
for r in rows("raw.tsv"):
    runs.setdefault((r["file"], r["tool"]), []).append(r)

def summary(key):
    """Median wall and CPU ms per converted page over the timed rounds (or the warm-up,
    when it is the only run), peak RSS over the same runs, and whether any run failed."""
    all_runs = runs.get(key)
    if not all_runs:
        return None
    timed = [r for r in all_runs if r["round"] != "0"] or all_runs
    pages = int(timed[0]["pages_done"]) or 1
    wall = statistics.median(int(r["wall_us"]) / 1000 for r in timed) / pages
    cpu = statistics.median((float(r["user_s"]) + float(r["sys_s"])) * 1000 for r in timed) / pages
    user = statistics.median(float(r["user_s"]) * 1000 for r in timed) / pages
    failed = any(r["rc"] != "0" or int(r["jpegs"]) != int(r["pages_done"]) for r in all_runs)
    return {"n": len(timed), "wall": wall, "cpu": cpu, "user": user, "pages": pages, "failed": failed,
            "rss": max(int(r["maxrss_kb"]) for r in timed) / 1024, "rc": timed[0]["rc"]}

print(open(os.path.join(res, "run.txt")).read().rstrip())
order = ["pelc", "pelc-1cpu", "floor", "floor-grey", "im", "im-pages", "gm", "vips"]
stats = {}
for f in files:
    name, pages = f["file"], int(f["pages"])
    print(f"\n{name}.tif: {pages} pages, largest page {int(f['largest24']) / 2**20:.1f} MiB at 24 bits")
    print(f"{'tool':<11} {'n':>2} {'ms/page':>9} {'x floor':>8} {'CPU ms/p':>9} {'x floor':>8}"
          f" {'RSS MiB':>8} {'JPEGs':>6} {'out MB':>8} {'PSNR p2':>8}  JPEG sampling, density")
    base = summary((name, "floor"))
    for tool in order:
        s = summary((name, tool))
        if not s:
            continue
        stats[(name, tool)] = s
        c = checks.get((name, tool), {})
        jpegs = [r["jpegs"] for r in runs[(name, tool)] if r["round"] == "0"][0]
        ratio = f"{s['wall'] / base['wall']:.2f}" if base else "-"
        cpu_ratio = f"{s['cpu'] / base['cpu']:.2f}" if base and base["cpu"] else "-"
        note = f"  (exit {s['rc']})" if s["failed"] else ""
        sampled = f" of {pages}" if s["pages"] != pages else ""
        print(f"{tool:<11} {s['n']:>2} {s['wall']:>9.2f} {ratio:>8} {s['cpu']:>9.2f} {cpu_ratio:>8}"
              f" {s['rss']:>8.0f} {jpegs + sampled:>6} {int(c.get('bytes', 0)) / 1e6:>8.2f}"
              f" {c.get('psnr', '-'):>8}  {c.get('jpeg', '-')}{note}")
    for tool in order:
        err = checks.get((name, tool), {}).get("stderr", "").strip()
        if err:
            print(f"  {tool} said: {err[:150]}")

def ratio_line(label, value, limit):
    if value is None:
        print(f"  {label}: not measured")
    else:
        print(f"  {label}: {value:.2f} (goal <= {limit}) {'met' if value <= limit else 'MISSED'}")

# System time here is mostly the creation of 1000 files in one folder, which the kernel
# does at a cost that varies with everything else on the disk; user time is the program's.
print("\nscaling: ms/page on many.tif (1000 pages) / ms/page on many100.tif (100 pages)")
for tool in order:
    a, b = stats.get(("many100", tool)), stats.get(("many", tool))
    if a and b:
        line = f"  {tool:<11} wall {b['wall'] / a['wall']:.2f}"
        if a["cpu"] and a["user"]:
            line += f"   CPU {b['cpu'] / a['cpu']:.2f}   user CPU {b['user'] / a['user']:.2f}"
        print(line)

if any(t == "pelc" for _, t in stats):
    cores = int(open(os.path.join(res, "cores.txt")).read())
    print(f"\npelc against its goals on {cores} cores (wall ms/page; CPU ratio in brackets)")
    # Every core against the single-core floor; old-style pages (mostly the check of the
    # stream before its copy) no slower than on one core.
    limits = {"fax": 0.40, "scan": 0.55, "gray": 0.55, "many": 0.60}
    for f in files:
        name = f["file"]
        p, fl = stats.get((name, "pelc")), stats.get((name, "floor"))
        if not p or not fl:
            continue
        r = p["wall"] / fl["wall"]
        cr = p["cpu"] / fl["cpu"] if fl["cpu"] else float("nan")
        goal = f", goal <= {limits[name]}: {'met' if r <= limits[name] and not p['failed'] else 'MISSED'}" \
            if name in limits else ""
        peers = ", ".join(f"{p['wall'] / stats[(name, t)]['wall']:.2f} x {t}"
                          for t in ("vips", "gm", "im", "im-pages") if (name, t) in stats
                          and not stats[(name, t)]["failed"])
        print(f"  {name:<8} {r:.2f} x floor ({cr:.2f}){goal}" + (", pages failed" if p["failed"] else "")
              + (f"; {peers}" if peers else ""))
    for f in files:
        name = f["file"]
        p, one = stats.get((name, "pelc")), stats.get((name, "pelc-1cpu"))
        if not p or not one:
            continue
        same = checks.get((name, "pelc"), {}).get("sums") == checks.get((name, "pelc-1cpu"), {}).get("sums")
        speed = p["wall"] / one["wall"]
        line = f"  {name:<8} {speed:.2f} x one core; outputs and console {'identical' if same else 'DIFFER'}"
        if name == "ojpeg":
            line += f" (goal: no slower than one core: {'met' if speed <= 1.05 else 'MISSED'})"
        budget = cores * one["rss"]
        line += (f"; peak RSS {p['rss']:.0f} MiB, one core {one['rss']:.0f} MiB"
                 f" (goal <= {cores} x: {'met' if p['rss'] <= budget else 'MISSED'})")
        print(line)
    # Small pages: the CPU they take against the floor's, on all cores and on one.
    for name in ("many100", "many"):
        p, fl = stats.get((name, "pelc")), stats.get((name, "floor"))
        ratio_line(f"CPU per small page on {name}, x floor",
                   p["cpu"] / fl["cpu"] if p and fl and fl["cpu"] else None, 1.1)
    for f in files:
        name = f["file"]
        one, fl = stats.get((name, "pelc-1cpu")), stats.get((name, "floor"))
        if one and fl:
            ratio_line(f"one core, {name}, x floor", one["wall"] / fl["wall"], 1.05)
    a, b = stats.get(("many100", "pelc")), stats.get(("many", "pelc"))
    ratio_line("linear in pages, many / many100 per page", b["wall"] / a["wall"] if a and b else None, 1.1)
    if a and b and a["user"]:
        print(f"    (user CPU alone: {b['user'] / a['user']:.2f})")
EOF
}

if [ -n "${REPORT:-}" ]; then
  report "$REPORT"
  exit
fi

# --- what the run needs -----------------------------------------------------------------
install_missing() {
  local missing=() pair
  for pair in convert-im6.q16:imagemagick compare-im6.q16:imagemagick gm:graphicsmagick \
    vips:libvips-tools tiffinfo:libtiff-tools tiffcp:libtiff-tools tiffset:libtiff-tools \
    cjpeg:libjpeg-turbo-progs python3:python3 cc:gcc cmake:cmake ninja:ninja-build; do
    command -v "${pair%%:*}" >/dev/null || missing+=("${pair#*:}")
  done
  [ -x /usr/bin/time ] || missing+=(time)
  echo '#include <tiffio.h>' | cc -E -x c - >/dev/null 2>&1 || missing+=(libtiff-dev)
  printf '#include <stdio.h>\n#include <jpeglib.h>\n' | cc -E -x c - >/dev/null 2>&1 ||
    missing+=(libjpeg62-turbo-dev)
  [ -e /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf ] || missing+=(fonts-dejavu-core)
  [ ${#missing[@]} = 0 ] && return 0
  mapfile -t missing < <(printf '%s\n' "${missing[@]}" | sort -u)
  if [ -n "${NO_INSTALL:-}" ] || [ "$(id -u)" != 0 ]; then
    say "run.sh: missing packages: ${missing[*]} (install them, then run again)"
    exit 1
  fi
  say "installing: ${missing[*]}"
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
    --no-install-recommends "${missing[@]}" >&2 || exit 1
}
install_missing
first_cpu=$(taskset -pc $$ | sed 's/.*: *//; s/[-,].*//')

mkdir -p "$work/bin"
"$here/make_corpus.sh" "$corpus" || exit 1
corpus=$(cd "$corpus" && pwd)

say "building the floor"
cc -O2 -std=c11 -Wall -Wextra -o "$work/bin/floor" "$here/floor/floor.c" -ltiff -ljpeg || exit 1
floor=$work/bin/floor

pelc=${PELC:-}
if [ -z "$pelc" ]; then
  say "building pelc (Release) in $build"
  if cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELC_TESTS=OFF \
    >"$work/pelc-build.log" 2>&1 &&
    cmake --build "$build" --target pelc -j2 >>"$work/pelc-build.log" 2>&1; then
    pelc=$build/pelc
  else
    say "pelc does not build (see $work/pelc-build.log); measuring the others only"
  fi
fi

res=$work/results/$(date +%Y%m%d-%H%M%S)
scratch=${SCRATCH:-$work/scratch}
mkdir -p "$res"
rm -rf "$scratch"

# --- tools ----------------------------------------------------------------------------
tools_for() { # the tools that run on corpus file $1, filtered by TOOLS when set
  local list="floor im gm vips"
  case $1 in
    fax) list+=" floor-grey im-pages" ;;
    gray | many100 | many) list+=" floor-grey" ;;
  esac
  [ -n "$pelc" ] && list="pelc pelc-1cpu $list"
  local t
  for t in $list; do
    if [ -z "${TOOLS:-}" ] || [[ " $TOOLS " == *" $t "* ]]; then printf '%s ' "$t"; fi
  done
}

page_count() { tiffinfo "$1" 2>/dev/null | grep -c '^TIFF Directory'; }

# The pages a per-page loop converts for a file of $1 pages: all, or every vips_step-th.
loop_pages() {
  local n=$1 step=1 i
  [ "$n" -gt "$vips_all" ] && step=$vips_step
  for ((i = 0; i < n; i += step)); do printf '%s ' "$i"; done
}

# Sets CMD to the command line that runs tool $1 on $2 (the symlinked input), writing into
# folder $3. Single commands run under time(1) as they are, with no shell in between; the
# per-page loops run in one bash, as a user's script would.
tool_command() {
  local tool=$1 in=$2 dir=$3
  case $tool in
    pelc) CMD=("$pelc" "$in") ;;
    pelc-1cpu) CMD=(taskset -c "$first_cpu" "$pelc" "$in") ;;
    floor) CMD=("$floor" "$in") ;;
    floor-grey) CMD=("$floor" -g "$in") ;;
    im) CMD=("$magick" "$in" -quality 75 "$dir/out_%d.jpg") ;;
    gm) CMD=(gm convert "$in" -quality 75 +adjoin "$dir/out_%d.jpg") ;;
    im-pages)
      CMD=(bash -c 'rc=0; for i in $3; do "$0" "$1[$i]" -quality 75 "$2/out_$i.jpg" || rc=1; done
        exit $rc' "$magick" "$in" "$dir" "$LOOP_PAGES") ;;
    vips)
      CMD=(bash -c 'rc=0; for i in $2; do vips jpegsave "$0[page=$i]" "$1/out_$i.jpg" --Q 75 || rc=1
        done; exit $rc' "$in" "$dir" "$LOOP_PAGES") ;;
  esac
}

# Where tool $1 put the second page of a file of $2 pages, inside folder $3.
second_page() {
  case $1 in
    pelc | pelc-1cpu | floor | floor-grey)
      local digits=${#2}
      if [ "$digits" -ge 2 ] && [ "$digits" -le 7 ]; then
        printf '%s/in_%0*d.jpg\n' "$3" "$digits" 2
      else
        echo "$3/in_2.jpg"
      fi ;;
    *) echo "$3/out_1.jpg" ;;
  esac
}

# Runs a command under time(1) and writes "wall_us user_s sys_s maxrss_kb exit_code" to the
# file named first. The peak RSS is time's %M: a child forked from this interpreter would
# count the interpreter's own pages. The clock starts after the interpreter is up, and wait4
# gives the CPU time of time(1) and its child in microseconds where time(1) prints
# hundredths, too coarse for a 100-page run of the floor (30 ms).
runner='
import os, subprocess, sys, time
out = sys.argv[1]
start = time.perf_counter_ns()
child = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", out + ".rss", *sys.argv[2:]])
_, status, usage = os.wait4(child.pid, 0)
wall_us = (time.perf_counter_ns() - start) // 1000
code = os.waitstatus_to_exitcode(status)
with open(out + ".rss") as f:
    rss = f.read().split()[-1]
with open(out, "w") as f:
    f.write(f"{wall_us} {usage.ru_utime:.6f} {usage.ru_stime:.6f} {rss} {code}\n")
'

# One conversion in a fresh scratch folder; appends a row to raw.tsv.
measure() { # measure FILE TOOL ROUND PAGES
  local f=$1 tool=$2 round=$3 pages=$4 done_pages rss user sys jpegs
  rm -rf "$scratch" && mkdir -p "$scratch" && ln -s "$corpus/$f.tif" "$scratch/in.tif"
  done_pages=$pages
  LOOP_PAGES=
  if [ "$tool" = vips ] || [ "$tool" = im-pages ]; then
    LOOP_PAGES=$(loop_pages "$pages")
    done_pages=$(wc -w <<<"$LOOP_PAGES")
  fi
  tool_command "$tool" "$scratch/in.tif" "$scratch"
  python3 -c "$runner" "$work/time.txt" "${CMD[@]}" >"$work/stdout.txt" 2>"$work/stderr.txt"
  read -r last_us user sys rss last_rc <"$work/time.txt"
  jpegs=$(find "$scratch" -name '*.jpg' | wc -l)
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$f" "$tool" "$round" "$last_rc" "$last_us" \
    "$user" "$sys" "$rss" "$done_pages" "$jpegs" >>"$res/raw.tsv"
}

# Properties of the warm-up's outputs; appends a row to checks.tsv.
check() { # check FILE TOOL PAGES REFERENCE
  local bytes page psnr=- kind=- err
  bytes=$(find "$scratch" -name '*.jpg' -printf '%s\n' | awk '{s += $1} END {print s + 0}')
  page=$(second_page "$2" "$3" "$scratch")
  if [ -s "$page" ]; then
    psnr=$(compare-im6.q16 -metric PSNR "$4" "$page" null: 2>&1 | awk 'NR == 1 {print $1}')
    kind=$(identify-im6.q16 -format '%[jpeg:sampling-factor] %xx%y%U' "$page" 2>/dev/null |
      sed 's/PixelsPerInch/dpi/; s/PixelsPerCentimeter/dpcm/; s/Undefined/ no unit/')
  fi
  err=$(head -c 200 "$work/stderr.txt" | tr '\t\n' '  ')
  # One sum over every output's name and bytes, and the console's.
  sums=$( (cd "$scratch" && find . -name '*.jpg' | sort | xargs -r md5sum; md5sum <"$work/stdout.txt") |
    md5sum | cut -c1-12)
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$1" "$2" "$bytes" "${psnr:--}" "${kind:--}" "$err" \
    "$sums" >>"$res/checks.tsv"
}

# The second page of FILE without loss: the decoded page, or for old-style JPEG pages the
# embedded JPEG itself, which is what a copying converter should reproduce.
reference_page() { # reference_page FILE PAGES
  local ref=$work/ref/$1
  rm -rf "$ref" && mkdir -p "$ref"
  if tiffinfo -0 "$corpus/$1.tif" 2>/dev/null | grep -q 'Old-style JPEG'; then
    ln -s "$corpus/$1.tif" "$ref/in.tif" && "$floor" "$ref/in.tif" 2>/dev/null
    second_page floor "$2" "$ref"
  else
    tiffcp "$corpus/$1.tif,1" "$ref/page.tif" 2>/dev/null && echo "$ref/page.tif"
  fi
}

# The 24-bit size in bytes of the largest page of FILE.
largest_page() {
  tiffinfo "$corpus/$1.tif" 2>/dev/null | awk '/Image Width:/ {
    w = $3; h = $6; if (w * h * 3 > m) m = w * h * 3 } END {printf "%d\n", m}'
}

# --- the run --------------------------------------------------------------------------
started=$(date +%s)
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
printf 'file\ttool\tround\trc\twall_us\tuser_s\tsys_s\tmaxrss_kb\tpages_done\tjpegs\n' >"$res/raw.tsv"
printf 'file\ttool\tbytes\tpsnr\tjpeg\tstderr\tsums\n' >"$res/checks.tsv"
nproc >"$res/cores.txt"
printf 'file\tpages\tlargest24\n' >"$res/files.tsv"
say "corpus $corpus, $rounds rounds after a warm-up, results in $res"
for f in $files; do
  [ -e "$corpus/$f.tif" ] || { say "no $corpus/$f.tif"; continue; }
  read -r -a tools <<<"$(tools_for "$f")"
  pages=$(page_count "$corpus/$f.tif")
  printf '%s\t%s\t%s\n' "$f" "$pages" "$(largest_page "$f")" >>"$res/files.tsv"
  ref=$(reference_page "$f" "$pages")
  dropped=" "
  for ((r = 0; r <= rounds; r++)); do
    for ((k = 0; k < ${#tools[@]}; k++)); do
      t=${tools[(k + r) % ${#tools[@]}]}
      [[ "$dropped" == *" $t "* ]] && continue
      measure "$f" "$t" "$r" "$pages"
      say "  $f $t round $r: $((last_us / 1000)) ms, exit $last_rc"
      if [ "$r" = 0 ]; then
        check "$f" "$t" "$pages" "$ref"
        if [ "$last_rc" != 0 ] || [ "$last_us" -gt "$slow_us" ]; then dropped+="$t "; fi
      fi
    done
  done
done
rm -rf "$scratch" "$work/ref"

commit=$(git -C "$repo" rev-parse --short HEAD 2>/dev/null || echo unknown)
git -C "$repo" diff --quiet HEAD -- 2>/dev/null || commit+=" (with uncommitted changes)"
{
  echo "finished: $(date -u +%Y-%m-%dT%H:%MZ)"
  echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
  echo "load average before / after: $load_before / $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "pelc: ${pelc:-not built} at $commit"
  echo "outputs written to: $(df -PT "$(dirname "$scratch")" | awk 'NR == 2 {print $2}') file system"
  echo "peers: $("$magick" -version | head -n1 | cut -d' ' -f2-3), $(gm version | head -n1 |
    cut -d' ' -f1-2), $(vips --version)"
  echo "rounds: $rounds timed after a warm-up; wall time of the whole run: $(($(date +%s) - started)) s"
} >"$res/run.txt"

report "$res"
say "raw rows: $res"
