#!/bin/bash
# Times lubench's 4096 run against OpenBLAS's dgetrf + dgetrs on the same matrix, alternating
# OpenBLAS's own kernel choice (OPENBLAS_CORETYPE and OPENBLAS_L2_SIZE unset for that command)
# with the Haswell kernel some of our machines' environments pin, and prints the medians and
# their ratios. Each round is one lubench-report run with --compare-lapack, so every LAPACK time
# comes right after a lubench run on the same matrix.
#
#   bench/alternate-with-openblas.sh [ROUNDS] [BUILD_DIR] [N]     (defaults: 5, build/release, 4096)
set -euo pipefail
rounds=${1:-5}
report=${2:-build/release}/lubench-report
order=${3:-4096}
[[ -x $report ]] || { echo "$0: no $report; build the release preset first" >&2; exit 1; }
results=$(mktemp)
trap 'rm -f "$results"' EXIT
for ((round = 1; round <= rounds; ++round)); do
  for kernel in own Haswell; do
    # Status 2 is a residual above HPL's bound: the times still count, and the summary says so.
    status=0
    if [[ $kernel == own ]]; then
      json=$(env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE "$report" --n "$order" --repeat 1 \
          --no-peak --compare-lapack --seed "$round" --json) || status=$?
    else
      json=$(OPENBLAS_CORETYPE=Haswell "$report" --n "$order" --repeat 1 --no-peak \
          --compare-lapack --seed "$round" --json) || status=$?
    fi
    if ((status != 0 && status != 2)); then
      echo "$0: $report failed with status $status" >&2
      exit 1
    fi
    python3 -c 'import json, sys
d = json.loads(sys.argv[2])["benchmarks"][0]
print(sys.argv[1], d["timed_ns"]["median"], d["lapack"]["timed_ns"]["median"],
      d["lapack"]["library"].rsplit("(kernel ", 1)[-1].rstrip(")"), d["passed"])' \
        "$kernel" "$json" >>"$results"
  done
  echo "round $round of $rounds done" >&2
done
python3 - "$results" <<'PY'
import statistics, sys
rows = [line.split() for line in open(sys.argv[1])]
for kernel in ("own", "Haswell"):
    mine = [float(r[1]) / 1e9 for r in rows if r[0] == kernel]
    peer = [float(r[2]) / 1e9 for r in rows if r[0] == kernel]
    names = sorted({r[3] for r in rows if r[0] == kernel})
    print(f"OpenBLAS kernel {'/'.join(names)} ({kernel} choice): lubench median "
          f"{statistics.median(mine):.3f} s, OpenBLAS median {statistics.median(peer):.3f} s, "
          f"ratio {statistics.median(mine) / statistics.median(peer):.2f} over {len(mine)} pairs")
failed = sum(r[4] != "True" for r in rows)
if failed:
    print(f"{failed} of {len(rows)} lubench runs had a residual above HPL's bound (seeds "
          f"{', '.join(sorted({str(1 + i // 2) for i, r in enumerate(rows) if r[4] != 'True'}))})")
PY
