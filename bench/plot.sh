#!/usr/bin/env bash
# Draws GFLOP/s against n for lubench, LAPACK, the plain scalar rendering and the floor of the
# work of the plain scalar order from the JSON that lubench_bench writes, and prints the Markdown tables of the
# same medians.
#
#   bench/plot.sh bench.json docs/performance.png
set -euo pipefail
json=${1:?usage: bench/plot.sh bench.json output.png}
png=${2:?usage: bench/plot.sh bench.json output.png}
here=$(dirname "$0")
data=$(mktemp)
trap 'rm -f "$data"' EXIT

python3 "$here/summarize.py" "$json" "$data"
gnuplot <<GNUPLOT
set terminal pngcairo size 800,500 noenhanced
set output "$png"
set title "Blocked LU factorisation and solves, one thread"
set xlabel "order n"
set ylabel "GFLOP/s (2/3 n^3 + 3/2 n^2 per second, median)"
set key top left
set grid
set logscale x 2
set xtics (1024, 2048, 4096)
set xrange [850:4900]
set yrange [0:*]
set offsets 0, 0, graph 0.25, 0
plot "$data" using 1:2 with linespoints lw 2 pt 7 title "lubench", \
     "$data" using 1:3 with linespoints lw 2 pt 5 title "LAPACK dgetrf + dgetrs (OpenBLAS)", \
     "$data" using 1:4 with linespoints lw 2 pt 9 title "plain scalar rendering", \
     "$data" using 1:9 with linespoints lw 1 dt 2 pt 6 title "best rate the plain scalar order allows here (see docs/performance.md)"
GNUPLOT
echo "wrote $png"
