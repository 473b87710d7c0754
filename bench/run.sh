#!/usr/bin/env bash
# Benchmark of bvex: whole-process times from the page cache against GNU cmp, a read+memcmp
# floor (bench/floor.cpp) and, for dense reports, the output floor: cat writing the same
# report to the same file system (and dd, the same through read() and write()). Plus peak
# memory. Prints a table.
#
# Usage: bench/run.sh [--dir DIR] [--runs N] [--keep] [--wasm WASM] [path/to/bvex]
#   --dir DIR  data folder (default $BVEX_BENCH_DIR or /tmp/bvex-bench); at most
#              5 GB on disk and 15 GB of page cache while it runs
#   --runs N   timed runs per fast command (default 10; the slow cmp -l gets 3)
#   --keep     keep the data files (a later run reuses them)
#   --wasm F   bvex.wasm to time under Node on the identical pair (default
#              build/wasi/bvex.wasm when it is there; none when node is missing)
# Without a path, bvex is build/release/bvex, built with the release preset if missing.
# Times come from hyperfine when it is installed, else from a loop of date +%s.%N.
set -euo pipefail
shopt -s inherit_errexit

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
dir=${BVEX_BENCH_DIR:-/tmp/bvex-bench}
runs=10
keep=0
bvex=""
wasm=$root/build/wasi/bvex.wasm
while (($#)); do
    case $1 in
        --dir) dir=$2; shift 2 ;;
        --runs) runs=$2; shift 2 ;;
        --keep) keep=1; shift ;;
        --wasm) wasm=$2; shift 2 ;;
        -h | --help) sed -n '2,14s/^# \{0,1\}//p' "$0"; exit 0 ;;
        -*) echo "unknown option $1" >&2; exit 1 ;;
        *) bvex=$1; shift ;;
    esac
done
if [[ -z $bvex ]]; then
    bvex=$root/build/release/bvex
    [[ -x $bvex ]] || (cd "$root" && cmake --workflow --preset release >/dev/null)
fi
bvex=$(realpath "$bvex")
if [[ -f $wasm ]]; then wasm=$(realpath "$wasm"); fi
cmp --version 2>/dev/null | grep -q GNU || { echo "GNU cmp (diffutils) is needed" >&2; exit 1; }

mkdir -p "$dir"
cd "$dir"
cleanup() {
    rm -f out_* report_* times.csv hyperfine.log
    ((keep)) || { rm -f id_a id_b diff_a diff_b sparse_a sparse_b tiny_a tiny_b floor; rmdir "$dir" 2>/dev/null || true; }
}
trap cleanup EXIT
c++ -O2 -o floor "$here/floor.cpp"

echo "== data in $dir"
GiB=$((1024 * 1024 * 1024))
size() { stat -c %s "$1" 2>/dev/null || echo 0; }
[[ $(size id_a) == "$GiB" ]] || head -c 1G /dev/urandom >id_a
[[ $(size id_b) == "$GiB" ]] && cmp -s id_a id_b || cp id_a id_b
head -c 64M id_a >diff_a
LC_ALL=C tr '\000-\377' '\001-\377\000' <diff_a >diff_b # every byte value + 1: all differ
rm -f sparse_a sparse_b
truncate -s 5G sparse_a sparse_b
printf '\001' | dd of=sparse_b bs=1 seek=$((4 * GiB + 12345)) conv=notrunc status=none
head -c 1K id_a >tiny_a
cp tiny_a tiny_b
for f in id_a id_b diff_a diff_b sparse_a sparse_b tiny_a tiny_b; do cat "$f" >/dev/null; done

# median N COMMAND: runs COMMAND (a shell line) N times after one warm-up, prints the median seconds.
# Old reports are deleted before each run, untimed: truncating hundreds of MiB of page cache
# inside the timed shell would otherwise be charged to the command.
prepare="rm -f out_*"
median() {
    local n=$1 cmd=$2
    if command -v hyperfine >/dev/null; then
        rm -f times.csv
        hyperfine --style none --warmup 1 --runs "$n" --prepare "$prepare" --export-csv times.csv \
            -n x "$cmd" >/dev/null 2>hyperfine.log || { cat hyperfine.log >&2; exit 1; }
        awk -F, 'NR == 2 { printf "%.4f\n", $4 }' times.csv
    else
        sh -c "$prepare; $cmd"
        for ((i = 0; i < n; i++)); do
            local s e
            sh -c "$prepare"
            s=$(date +%s.%N); sh -c "$cmd"; e=$(date +%s.%N)
            awk -v s="$s" -v e="$e" 'BEGIN { printf "%.4f\n", e - s }'
        done | sort -n | awk '{ v[NR] = $1 } END { printf "%.4f\n", (v[int((NR + 1) / 2)] + v[int(NR / 2) + 1]) / 2 }'
    fi
}
timed() { # timed LABEL N COMMAND: median of COMMAND, shown as it is measured
    local t
    t=$(median "$2" "$3")
    printf '   %-34s %8.3f s\n' "$1" "$t" >&2
    echo "$t"
}

echo "== timing (median of $runs runs; cmp -l: 3 runs)"
a_bvex=$(timed "bvex, 1 GiB identical" "$runs" "'$bvex' id_a id_b >out_a")
a_floor=$(timed "floor, 1 GiB identical" "$runs" "./floor id_a id_b")
a_cmp=$(timed "cmp, 1 GiB identical" "$runs" "cmp id_a id_b >out_a")
a_wasm=nan
if [[ -f $wasm ]] && command -v node >/dev/null; then
    a_wasm=$(timed "bvex.wasm under Node, 1 GiB identical" "$runs" \
        "node '$root/tools/wasi-run.mjs' '$wasm' id_a id_b >out_a")
fi
# The dense pair at widths 16, 256 and 1: bvex writing its report to a file, against cat
# writing the same report (made beforehand, read from the page cache) to the same folder.
for width in 16 256 1; do
    "$bvex" -"$width" diff_a diff_b >"report_$width"
    cat "report_$width" >/dev/null
done
b_bvex=$(timed "bvex, 64 MiB all different" "$runs" "'$bvex' diff_a diff_b >out_b_bvex")
b_lines="$(wc -l <out_b_bvex) bvex lines"
b_cat=$(timed "cat of its report" "$runs" "cat report_16 >out_b_cat")
# cat copies a file to a file inside the kernel (copy_file_range), which a program that makes
# its text in memory cannot do: dd is the same copy through read() and write().
b_dd=$(timed "dd of its report" "$runs" "dd if=report_16 of=out_b_dd bs=256K status=none")
b256_bvex=$(timed "bvex -256, 64 MiB all different" "$runs" "'$bvex' -256 diff_a diff_b >out_b")
b256_cat=$(timed "cat of its report" "$runs" "cat report_256 >out_b")
b1_bvex=$(timed "bvex -1, 64 MiB all different" "$runs" "'$bvex' -1 diff_a diff_b >out_b")
b1_cat=$(timed "cat of its report" "$runs" "cat report_1 >out_b")
rm -f report_*
b_cmp=$(timed "cmp -l, 64 MiB all different" 3 "cmp -l diff_a diff_b >out_b_cmp || true")
b_lines+=", $(wc -l <out_b_cmp) cmp -l lines"
rm -f out_*
c_bvex=$(timed "bvex, 5 GiB sparse" "$runs" "'$bvex' sparse_a sparse_b >out_c")
c_floor=$(timed "floor, 5 GiB sparse" "$runs" "./floor sparse_a sparse_b")
c_out=$("$bvex" sparse_a sparse_b)
d_bvex=$(timed "bvex, 1 KiB identical" "$runs" "'$bvex' tiny_a tiny_b >out_d")
d_cmp=$(timed "cmp, 1 KiB identical" "$runs" "cmp tiny_a tiny_b >out_d")

rss() { /usr/bin/time -v "$bvex" "$1" "$2" 2>&1 >/dev/null | awk '/Maximum resident/ { print $NF }'; }
if [[ -x /usr/bin/time ]]; then
    rss_big=$(rss id_a id_b)
    rss_tiny=$(rss tiny_a tiny_b)
else
    echo "   /usr/bin/time missing (Debian package time): peak RSS not measured" >&2
    rss_big=nan rss_tiny=nan
fi

verdict() { awk -v v="$1" -v t="$2" 'BEGIN { print (v != "nan" && v + 0 <= t + 0) ? "met" : "NOT MET" }'; }
row() { printf '%-26s %16s  %-9s %16s  %7s  %-13s %s\n' "$@"; }
ratio_row() { # CASE BVEX_S BASE_NAME BASE_S TARGET_RATIO (- for none: the ratio is shown)
    local r
    r=$(awk -v a="$2" -v b="$4" 'BEGIN { printf "%.3f", a / b }')
    if [[ $5 == - ]]; then
        row "$1" "$2 s" "$3" "$4 s" "$r" - -
    else
        row "$1" "$2 s" "$3" "$4 s" "$r" "<= $5x" "$(verdict "$r" "$5")"
    fi
}

echo
echo "bvex: $bvex"
echo "64 MiB check: $b_lines (expected 4194304 and 67108864)"
echo "5 GiB sparse, bvex prints: $c_out"
echo
row case bvex baseline baseline ratio target result
row ---- ---- -------- -------- ----- ------ ------
ratio_row "1 GiB identical" "$a_bvex" floor "$a_floor" 1.15
ratio_row "1 GiB identical" "$a_bvex" "cmp" "$a_cmp" 0.4
if [[ $a_wasm != nan ]]; then
    ratio_row "1 GiB identical, wasm" "$a_wasm" "bvex" "$a_bvex" 2.5
fi
ratio_row "64 MiB all different" "$b_bvex" "cat" "$b_cat" 1.5
ratio_row "64 MiB all different" "$b_bvex" "dd" "$b_dd" -
ratio_row "64 MiB all different" "$b_bvex" "cmp -l" "$b_cmp" 0.05
ratio_row "64 MiB, width 256" "$b256_bvex" "cat" "$b256_cat" -
ratio_row "64 MiB, width 1" "$b1_bvex" "cat" "$b1_cat" -
ratio_row "5 GiB sparse" "$c_bvex" floor "$c_floor" 1.15
want="00003039: 00 01"
ratio_row "1 KiB identical" "$d_bvex" "cmp" "$d_cmp" -
row "5 GiB sparse output" "${c_out:-(none)}" expected "$want" - "same line" \
    "$([[ $c_out == "$want" ]] && echo met || echo "NOT MET")"
row "peak RSS, 1 GiB" "$rss_big KiB" limit "2048 KiB" - "<= 2 MiB" "$(verdict "$rss_big" 2048)"
extra=$(awk -v a="$rss_big" -v b="$rss_tiny" 'BEGIN { print (a == "nan") ? "nan" : a - b }')
row "peak RSS, 1 GiB vs 1 KiB" "$rss_big KiB" "1 KiB run" "$rss_tiny KiB" "+$extra" "<= +1024 KiB" \
    "$(verdict "$extra" 1024)"
