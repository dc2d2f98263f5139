#!/bin/bash
# Measures how far sessions of one build move against each other: SESSIONS separate runs of
# lubench-report (each its own process, 15 timed runs per order, one seed, pinned to one CPU),
# then every later session compared with the first with no noise floor, so that each row's
# shift is what the machine alone did between sessions. The largest of these is what compare's
# --noise must exceed on this machine for the same build to read "same".
#
#   bench/session-noise.sh [SESSIONS] [BUILD_DIR] [ORDERS] [CPU]
#       (defaults: 8, build/release, 512,768,2048, the highest-numbered CPU allowed)
set -euo pipefail
sessions=${1:-8}
report=${2:-build/release}/lubench-report
orders=${3:-512,768,2048}
cpu=${4:-$(($(nproc) - 1))}
[[ -x $report ]] || { echo "$0: no $report; build the release preset first" >&2; exit 1; }
directory=$(mktemp -d)
trap 'rm -rf "$directory"' EXIT
files=()
for ((session = 1; session <= sessions; ++session)); do
  file="$directory/session-$session.json"
  # Status 2 is a residual above HPL's bound: the times still count.
  status=0
  "$report" --n "$orders" --repeat 15 --seed 7 --affinity "$cpu" --no-peak --summary \
      --out "$file" >/dev/null || status=$?
  if ((status != 0 && status != 2)); then
    echo "$0: $report failed with status $status" >&2
    exit 1
  fi
  files+=("$file")
done
status=0
"$report" compare "${files[@]}" --noise 0 || status=$?
((status == 0)) || echo "$0: compare exited with status $status" >&2
