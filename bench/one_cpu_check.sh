#!/usr/bin/env bash
# Converts every file of a folder with one pelc run on all CPUs and with one on a single CPU
# (taskset), and compares what they print and write: the workers must change nothing a user
# can see.
#
#   bench/one_cpu_check.sh PELC DIR
#
# Each file under DIR (README and manifest files aside) is copied as <n>.tif (pelc takes only .tif/.tiff names) into one scratch folder,
# so one run meets every kind of page and file, failing ones included. Exit 0 when the
# console bytes, exit codes and every output's bytes are identical.
set -euo pipefail
pelc=$(realpath "$1")
source_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir "$work/in"
n=0
while IFS= read -r -d '' f; do
  n=$((n + 1))
  cp "$f" "$work/in/$(printf '%04d' "$n").tif"
done < <(find "$source_dir" -type f ! -name '*.md' ! -name '*.tsv' -print0 | sort -z)

# run NAME [taskset args...]: one run over every file; console, exit code, outputs and sums.
run() {
  local name=$1
  shift
  rm -f "$work/in"/*.jpg
  local start=$SECONDS code=0
  (cd "$work/in" && "$@" "$pelc" ./*.tif >"$work/$name.out" 2>"$work/$name.err") || code=$?
  echo "$code" >"$work/$name.code"
  (cd "$work/in" && find . -name '*.jpg' | sort | xargs -r md5sum) >"$work/$name.sums"
  echo "$name: exit $code, $(wc -l <"$work/$name.sums") JPEGs, $(wc -l <"$work/$name.out") console lines, $((SECONDS - start)) s"
}

run one-cpu taskset -c "$(taskset -pc $$ | sed 's/.*: *//; s/[-,].*//')"
run all-cpus env
status=0
for part in out err code sums; do
  if cmp -s "$work/one-cpu.$part" "$work/all-cpus.$part"; then
    echo "$part: identical"
  else
    echo "$part: DIFFER"
    diff "$work/one-cpu.$part" "$work/all-cpus.$part" | head -20
    status=1
  fi
done
echo "$n files"
exit $status
