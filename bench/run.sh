#!/usr/bin/env bash
# Benchmark of bvex: whole-process times from the page cache against GNU cmp, a read+memcmp
# floor (bench/floor.cpp) and, for dense reports, the output floor: cat writing the same
# report to the same file system (and dd, the same through read() and write()). Plus peak
# memory, and with a second binary (a previous release) every case against it. Prints a table.
#
# Usage: bench/run.sh [options] [path/to/bvex [path/to/previous/bvex]]
#   --dir DIR  data folder (default $BVEX_BENCH_DIR or /tmp/bvex-bench); at most
#              5 GB on disk and 15 GB of page cache while it runs
#   --runs N   timed runs per fast command (default 10; the slow cmp -l gets 3)
#   --keep     keep the data files (a later run reuses them)
#   --wasm F   bvex.wasm to time under Node on the identical pair (default
#              build/wasi/bvex.wasm when it is there; none when node is missing)
#   --cpu      time CPU (user + system, perf stat's task-clock) instead of the wall
#              clock: steadier on a machine that other work shares
#   --sweep N  rounds of the floor's placement sweep (default 7)
#   --offset N the floor's buffers N bytes past a page boundary, and no sweep
# Without a path, bvex is build/release/bvex, built with the release preset if missing.
# The floor reads into buffers at the page offset its sweep (floor --sweep) found fastest.
# Each time is the median of runs taken in turns with its baseline's, from bash's clock
# (perf's with --cpu).
set -euo pipefail
shopt -s inherit_errexit
export LC_ALL=C # a decimal point in the times, whatever the locale

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
dir=${BVEX_BENCH_DIR:-/tmp/bvex-bench}
runs=10
keep=0
cpu=0
sweep_rounds=7
floor_offset=""
bvex=""
previous=""
wasm=$root/build/wasi/bvex.wasm
while (($#)); do
    case $1 in
        --dir) dir=$2; shift 2 ;;
        --runs) runs=$2; shift 2 ;;
        --keep) keep=1; shift ;;
        --wasm) wasm=$2; shift 2 ;;
        --cpu) cpu=1; shift ;;
        --sweep) sweep_rounds=$2; shift 2 ;;
        --offset) floor_offset=$2; shift 2 ;;
        -h | --help) sed -n '2,21s/^# \{0,1\}//p' "$0"; exit 0 ;;
        -*) echo "unknown option $1" >&2; exit 1 ;;
        *) if [[ -z $bvex ]]; then bvex=$1; else previous=$1; fi; shift ;;
    esac
done
if [[ -z $bvex ]]; then
    bvex=$root/build/release/bvex
    [[ -x $bvex ]] || (cd "$root" && cmake --workflow --preset release >/dev/null)
fi
bvex=$(realpath "$bvex")
if [[ -n $previous ]]; then previous=$(realpath "$previous"); fi
if ((cpu)) && ! perf stat -x, -e task-clock -o /dev/null true 2>/dev/null; then
    echo "--cpu needs perf stat (Debian package linux-perf) allowed to count task-clock" >&2
    exit 1
fi
if [[ -f $wasm ]]; then wasm=$(realpath "$wasm"); fi
cmp --version 2>/dev/null | grep -q GNU || { echo "GNU cmp (diffutils) is needed" >&2; exit 1; }

mkdir -p "$dir"
cd "$dir"
cleanup() {
    rm -f out_* report_* clock_out
    ((keep)) || { rm -f id_a id_b diff_a diff_b sparse_a sparse_b tiny_a tiny_b floor; rmdir "$dir" 2>/dev/null || true; }
}
trap cleanup EXIT
c++ -std=c++20 -O2 -o floor "$here/floor.cpp"

echo "== data in $dir"
GiB=$((1024 * 1024 * 1024))
size() { stat -c %s "$1" 2>/dev/null || echo 0; }
[[ $(size id_a) == "$GiB" ]] || head -c 1G /dev/urandom >id_a
if [[ $(size id_b) != "$GiB" ]] || ! cmp -s id_a id_b; then cp id_a id_b; fi
head -c 64M id_a >diff_a
LC_ALL=C tr '\000-\377' '\001-\377\000' <diff_a >diff_b # every byte value + 1: all differ
rm -f sparse_a sparse_b
truncate -s 5G sparse_a sparse_b
printf '\001' | dd of=sparse_b bs=1 seek=$((4 * GiB + 12345)) conv=notrunc status=none
head -c 1K id_a >tiny_a
cp tiny_a tiny_b
for f in id_a id_b diff_a diff_b sparse_a sparse_b tiny_a tiny_b; do cat "$f" >/dev/null; done

# The floor's placement: the page offset of its buffers at which reading the identical pair
# was fastest, unless given. bvex's own buffers are placed in its code; this shows whether
# that placement is still the best on this machine.
if [[ -z $floor_offset ]]; then
    echo "== floor placement sweep (floor --sweep $sweep_rounds id_a id_b)" >&2
    sweep=$(./floor --sweep "$sweep_rounds" id_a id_b)
    while IFS= read -r line; do echo "   $line"; done <<<"$sweep" >&2
    floor_offset=$(awk '$1 == "best" { print $2 }' <<<"$sweep")
    # bvex's own offset and its time against the best's, for the table.
    sweep_bvex=$(awk '/bvex.s/ { print $1, $5 }' <<<"$sweep")
    # The same for the sparse pair's holes, at bvex's offset, the best one and a few others:
    # how a file system gives holes (zero pages from its cache, or zeros written straight
    # into the buffer) may favour other offsets than the identical pair's.
    sparse_offsets=("${sweep_bvex%% *}" "$floor_offset" 0 32 736 4064)
    echo "== the same on the sparse pair (floor --sweep $sweep_rounds sparse_a sparse_b ${sparse_offsets[*]})" >&2
    sweep=$(./floor --sweep "$sweep_rounds" sparse_a sparse_b "${sparse_offsets[@]}")
    while IFS= read -r line; do echo "   $line"; done <<<"$sweep" >&2
    sweep_sparse=$(awk '/bvex.s/ { print $1, $5; exit }' <<<"$sweep")
    sparse_best=$(awk '$1 == "best" { print $2 }' <<<"$sweep")
fi
floor="./floor --offset $floor_offset"

# clock CMD: runs the command (a shell line) and prints the seconds it took: wall clock, or
# with --cpu its CPU time (user + system) as perf stat counts it.
clock() {
    local s e
    if ((cpu)); then
        perf stat -x, -e task-clock -o clock_out sh -c "$1"
        awk -F, '$3 == "task-clock" { printf "%.6f\n", $1 / 1000 }' clock_out
    else
        s=$EPOCHREALTIME; sh -c "$1"; e=$EPOCHREALTIME
        awk -v s="$s" -v e="$e" 'BEGIN { printf "%.6f\n", e - s }'
    fi
}

# pair N CMD_A CMD_B: runs the two commands (shell lines) in turn, N times each after one
# warm-up of each, and prints their median times in seconds. Taking turns keeps the slow
# drifts of a shared machine out of their ratio. Old reports are deleted before each run,
# untimed: truncating hundreds of MiB of page cache would otherwise be charged to the command.
prepare="rm -f out_*"
median() { sort -n | awk '{ v[NR] = $1 } END { printf "%.4f\n", (v[int((NR + 1) / 2)] + v[int(NR / 2) + 1]) / 2 }'; }
pair() {
    local n=$1 a=$2 b=$3 i times_a="" times_b=""
    sh -c "$prepare; $a"
    sh -c "$prepare; $b"
    for ((i = 0; i < n; i++)); do
        sh -c "$prepare"
        times_a+="$(clock "$a")"$'\n'
        sh -c "$prepare"
        times_b+="$(clock "$b")"$'\n'
    done
    printf '%s' "$times_a" | median
    printf '%s' "$times_b" | median
}
# timed LABEL_A LABEL_B N CMD_A CMD_B: the pair's medians on one line, shown as measured.
timed() {
    local t
    t=$(pair "$3" "$4" "$5" | tr '\n' ' ')
    read -r ta tb <<<"$t"
    printf '   %-32s %8.3f s    %-22s %8.3f s\n' "$1" "$ta" "$2" "$tb" >&2
    echo "$t"
}

echo "== timing (median of $runs runs each, in turns; cmp -l: 3 runs; $( ((cpu)) && echo "CPU time" || echo "wall clock"))"
read -r a_bvex a_floor < <(timed "bvex, 1 GiB identical" "floor" "$runs" \
    "'$bvex' id_a id_b >out_a" "$floor id_a id_b")
read -r a2_bvex a_cmp < <(timed "bvex, 1 GiB identical" "cmp" "$runs" \
    "'$bvex' id_a id_b >out_a" "cmp id_a id_b >out_a")
a_wasm=nan a3_bvex=nan
if [[ -f $wasm ]] && command -v node >/dev/null; then
    read -r a_wasm a3_bvex < <(timed "bvex.wasm under Node, 1 GiB" "bvex" "$runs" \
        "node '$root/tools/wasi-run.mjs' '$wasm' id_a id_b >out_a" "'$bvex' id_a id_b >out_a")
fi
# The dense pair at widths 16, 256 and 1: bvex writing its report to a file, against cat
# writing the same report (made beforehand, read from the page cache) to the same folder.
# cat copies a file to a file inside the kernel (copy_file_range), which a program that makes
# its text in memory cannot do: dd is the same copy through read() and write().
for width in 16 256 1; do
    "$bvex" -"$width" diff_a diff_b >"report_$width"
    cat "report_$width" >/dev/null
done
"$bvex" diff_a diff_b >out_b_bvex
b_lines="$(wc -l <out_b_bvex) bvex lines"
read -r b_bvex b_cat < <(timed "bvex, 64 MiB all different" "cat of its report" "$runs" \
    "'$bvex' diff_a diff_b >out_b" "cat report_16 >out_b")
read -r b2_bvex b_dd < <(timed "bvex, 64 MiB all different" "dd of its report" "$runs" \
    "'$bvex' diff_a diff_b >out_b" "dd if=report_16 of=out_b bs=256K status=none")
read -r b256_bvex b256_cat < <(timed "bvex -256, 64 MiB" "cat of its report" "$runs" \
    "'$bvex' -256 diff_a diff_b >out_b" "cat report_256 >out_b")
read -r b1_bvex b1_cat < <(timed "bvex -1, 64 MiB" "cat of its report" "$runs" \
    "'$bvex' -1 diff_a diff_b >out_b" "cat report_1 >out_b")
rm -f report_*
cmp -l diff_a diff_b >out_b_cmp || true
b_lines+=", $(wc -l <out_b_cmp) cmp -l lines"
read -r b3_bvex b_cmp < <(timed "bvex, 64 MiB all different" "cmp -l" 3 \
    "'$bvex' diff_a diff_b >out_b" "cmp -l diff_a diff_b >out_b || true")
rm -f out_*
read -r c_bvex c_floor < <(timed "bvex, 5 GiB sparse" "floor" "$runs" \
    "'$bvex' sparse_a sparse_b >out_c" "$floor sparse_a sparse_b")
c_out=$("$bvex" sparse_a sparse_b)
read -r d_bvex d_cmp < <(timed "bvex, 1 KiB identical" "cmp" "$runs" \
    "'$bvex' tiny_a tiny_b >out_d" "cmp tiny_a tiny_b >out_d")

# Every case against the previous release, in turns: a slowdown shows as a ratio above 1.
if [[ -n $previous ]]; then
    for width in 16 256 1; do
        "$previous" -"$width" diff_a diff_b >out_p
        "$bvex" -"$width" diff_a diff_b >out_b
        cmp -s out_p out_b || echo "   (the previous bvex's report at width $width differs)" >&2
    done
    rm -f out_*
    # against LABEL ARGS OUT: this bvex and the previous one on the same arguments, in turns.
    against() { timed "$1" previous "$runs" "'$bvex' $2 >$3" "'$previous' $2 >$3"; }
    read -r pa_bvex pa_prev < <(against "bvex, 1 GiB identical" "id_a id_b" out_a)
    read -r pb_bvex pb_prev < <(against "bvex, 64 MiB all different" "diff_a diff_b" out_b)
    read -r pb256_bvex pb256_prev < <(against "bvex -256, 64 MiB" "-256 diff_a diff_b" out_b)
    read -r pb1_bvex pb1_prev < <(against "bvex -1, 64 MiB" "-1 diff_a diff_b" out_b)
    read -r pc_bvex pc_prev < <(against "bvex, 5 GiB sparse" "sparse_a sparse_b" out_c)
    read -r pd_bvex pd_prev < <(against "bvex, 1 KiB identical" "tiny_a tiny_b" out_d)
fi

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
[[ -z $previous ]] || echo "previous: $previous"
echo "floor: buffers $floor_offset bytes past a page boundary; times: $( ((cpu)) && echo "CPU" || echo "wall clock")"
echo "64 MiB check: $b_lines (expected 4194304 and 67108864)"
echo "5 GiB sparse, bvex prints: $c_out"
echo
row case bvex baseline baseline ratio target result
row ---- ---- -------- -------- ----- ------ ------
ratio_row "1 GiB identical" "$a_bvex" floor "$a_floor" 1.15
ratio_row "1 GiB identical" "$a2_bvex" "cmp" "$a_cmp" 0.4
if [[ $a_wasm != nan ]]; then
    ratio_row "1 GiB identical, wasm" "$a_wasm" "bvex" "$a3_bvex" 2.5
fi
ratio_row "64 MiB all different" "$b_bvex" "cat" "$b_cat" 1.5
ratio_row "64 MiB all different" "$b2_bvex" "dd" "$b_dd" -
ratio_row "64 MiB all different" "$b3_bvex" "cmp -l" "$b_cmp" 0.05
ratio_row "64 MiB, width 256" "$b256_bvex" "cat" "$b256_cat" -
ratio_row "64 MiB, width 1" "$b1_bvex" "cat" "$b1_cat" -
ratio_row "5 GiB sparse" "$c_bvex" floor "$c_floor" 1.15
if [[ -n ${sweep_bvex:-} ]]; then
    read -r o r <<<"$sweep_bvex"
    row "reads at bvex's offset $o" "(floor --sweep)" "offset" "$floor_offset" "$r" "<= 1.02x" \
        "$(verdict "$r" 1.02)"
    read -r o r <<<"$sweep_sparse"
    row "sparse at bvex's offset $o" "(floor --sweep)" "offset" "$sparse_best" "$r" "<= 1.02x" \
        "$(verdict "$r" 1.02)"
fi
want="00003039: 00 01"
ratio_row "1 KiB identical" "$d_bvex" "cmp" "$d_cmp" -
if [[ -n $previous ]]; then
    ratio_row "1 GiB identical" "$pa_bvex" previous "$pa_prev" 1.02
    ratio_row "64 MiB all different" "$pb_bvex" previous "$pb_prev" -
    ratio_row "64 MiB, width 256" "$pb256_bvex" previous "$pb256_prev" -
    ratio_row "64 MiB, width 1" "$pb1_bvex" previous "$pb1_prev" -
    ratio_row "5 GiB sparse" "$pc_bvex" previous "$pc_prev" 1.02
    ratio_row "1 KiB identical" "$pd_bvex" previous "$pd_prev" -
fi
row "5 GiB sparse output" "${c_out:-(none)}" expected "$want" - "same line" \
    "$([[ $c_out == "$want" ]] && echo met || echo "NOT MET")"
row "peak RSS, 1 GiB" "$rss_big KiB" limit "2048 KiB" - "<= 2 MiB" "$(verdict "$rss_big" 2048)"
extra=$(awk -v a="$rss_big" -v b="$rss_tiny" 'BEGIN { print (a == "nan") ? "nan" : a - b }')
row "peak RSS, 1 GiB vs 1 KiB" "$rss_big KiB" "1 KiB run" "$rss_tiny KiB" "+$extra" "<= +1024 KiB" \
    "$(verdict "$extra" 1024)"
