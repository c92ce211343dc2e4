#!/usr/bin/env bash
# Runs the link benchmarks of two builds side by side, both at the same
# moment, round after round, and prints each figure's paired median: the
# median over rounds of each round's second/first, put so that above 1
# means the second build is better, with a bootstrap 90 % interval.
#
#   scripts/bench-pair.sh FIRST_BENCH SECOND_BENCH [rounds] [quiet|busy|core-each]
#
# busy: a busy loop on every core. core-each: each build on a core of its
# own (2 and 3) with a busy loop on it, the cores swapped every round.
# The builds should be made from the same benchmark file.
set -euo pipefail
usage="usage: scripts/bench-pair.sh FIRST_BENCH SECOND_BENCH [rounds] [quiet|busy|core-each]
Runs the link benchmarks of two builds (their bench/zdr_bench, made from the
same benchmark file) side by side, both at the same moment, for the given
number of rounds (1 to 1000, default 10), and prints each figure's paired
median of second/first (above 1: the second build is better) with a
bootstrap 90 % interval. The figures it could not pair (a benchmark only one
build has, a figure one build did not print) are named on stderr; it fails
(exit status 1) when it compared none. quiet (the default): nothing else runs; busy: a
busy loop on every core; core-each: each build on a core of its own (2 and
3) with a busy loop on it, the cores swapped every round (4 cores needed)."
case "${1:-}" in
  --help|-h) echo "$usage"; exit 0 ;;
esac
refuse() { echo "bench-pair: $1" >&2; echo "$usage" >&2; exit 2; }
case $# in
0) echo "$usage" >&2; exit 2 ;;
1) refuse "two benchmark binaries are needed, not one" ;;
2 | 3 | 4) ;;
*) refuse "four arguments at most, not $#" ;;
esac
first=$1
second=$2
rounds=${3:-10}
cond=${4:-quiet}
for bench in "$first" "$second"; do
    [ -f "$bench" ] && [ -x "$bench" ] || refuse "'$bench' is not an executable file (a build's bench/zdr_bench)"
done
if ! [[ "$rounds" =~ ^[1-9][0-9]{0,3}$ ]] || ((rounds > 1000)); then
    refuse "rounds must be a whole number from 1 to 1000, not '$rounds'"
fi
case $cond in
quiet | busy | core-each) ;;
*) refuse "the condition must be quiet, busy or core-each, not '$cond'" ;;
esac
cases="BM_UdpRamReadVsEcho BM_TcpRamReadVsEcho BM_UdpManyPcs/1/ BM_UdpManyPcs/8/ BM_TcpManyPcs/1/ BM_TcpManyPcs/8/ BM_UdpPollingPc BM_TcpPollingPc"
work=$(mktemp -d)
: > "$work/ratios"
: > "$work/unpaired"
loops=()
trap 'for p in "${loops[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT

busy_loop() { taskset -c "$1" bash -c 'while :; do :; done' & loops+=($!); }
case $cond in
busy) for ((c = 0; c < $(nproc); ++c)); do busy_loop "$c"; done ;;
core-each)
    (($(nproc) >= 4)) || { echo "bench-pair: core-each needs 4 cores" >&2; exit 2; }
    busy_loop 2
    busy_loop 3
    ;;
esac

# One build's figures of one case: "name key value" lines.
run() { # cores bench case out
    local pin=()
    [ -n "$1" ] && pin=(taskset -c "$1")
    "${pin[@]}" "$2" --benchmark_filter="$3" 2>/dev/null | awk '/^BM_/ {
        n = split($1, p, "/"); name = p[1] (p[1] ~ /ManyPcs/ ? "/" p[2] : "")
        for (i = 2; i <= NF; ++i) if (split($i, kv, "=") == 2) {
            v = kv[2]; if (v ~ /k$/) v = substr(v, 1, length(v) - 1) * 1000
            print name, kv[1], v
        }
    }' > "$4"
}

for ((r = 1; r <= rounds; ++r)); do
    a="" b=""
    if [ "$cond" = core-each ]; then
        if ((r % 2)); then a=2 b=3; else a=3 b=2; fi
    fi
    for c in $cases; do
        run "$a" "$first" "$c" "$work/first" &
        local_first=$!
        run "$b" "$second" "$c" "$work/second" &
        local_second=$!
        first_status=0 second_status=0
        wait "$local_first" || first_status=$?
        wait "$local_second" || second_status=$?
        for failed in "$first $first_status" "$second $second_status"; do
            [ "${failed##* }" = 0 ] || { echo "bench-pair: ${failed% *} failed on $c (exit status ${failed##* })" >&2; exit 1; }
        done
        # Lower is better for times and ratios, higher for replies. A figure
        # that only one build printed, or that is 0 in one, is not paired.
        awk -v bm="$c" 'FILENAME == ARGV[1] { v[$1 " " $2] = $3; next }
             { k = $1 " " $2; seen[k] = 1; ++printed
               if (!(k in v)) print "unpaired", k, "(only the second build printed it)"
               else if (v[k] > 0 && $3 > 0) print "ratio", k, ($2 == "replies_per_s" ? $3 / v[k] : v[k] / $3)
               else print "unpaired", k, "(0 in a build)" }
             END {
                 n = 0
                 for (k in v) { ++n; if (!(k in seen)) print "unpaired", k, "(only the first build printed it)" }
                 if (n == 0 && printed == 0) print "unpaired", bm, "(neither build printed a figure)"
             }' "$work/first" "$work/second" | grep -v echo_median > "$work/pairs" || true
        sed -n 's/^ratio //p' "$work/pairs" >> "$work/ratios"
        sed -n 's/^unpaired //p' "$work/pairs" >> "$work/unpaired"
    done
    echo "round $r of $rounds" >&2
done

if [ -s "$work/unpaired" ]; then
    echo "bench-pair: not compared (rounds in which it was not):" >&2
    sort "$work/unpaired" | uniq -c | sed 's/^ */    /' >&2
fi
if ! [ -s "$work/ratios" ]; then
    echo "bench-pair: no figure was compared: neither build printed one the other did" >&2
    exit 1
fi

# mawk has no sort: an insertion sort of a[1..n].
awk 'function sort(a, n,   i, j, t) { for (i = 2; i <= n; ++i) { t = a[i]; for (j = i - 1; j >= 1 && a[j] > t; --j) a[j + 1] = a[j]; a[j + 1] = t } }
     function median(a, n) { sort(a, n); return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2 }
     { k = $1 " " $2; if (!(k in n)) order[++keys] = k; x[k, ++n[k]] = $3 }
     END {
         srand(1)
         printf "%-36s %8s %17s %s\n", "figure", "paired", "90 % interval", "rounds second at or better"
         for (q = 1; q <= keys; ++q) {
             k = order[q]; m = n[k]; better = 0
             for (i = 1; i <= m; ++i) { s[i] = x[k, i]; if (s[i] >= 1) ++better }
             med = median(s, m)
             for (b = 1; b <= 2000; ++b) { for (i = 1; i <= m; ++i) t[i] = x[k, int(rand() * m) + 1]; boot[b] = median(t, m) }
             sort(boot, 2000)
             printf "%-36s %7.2fx %8.2f-%-8.2f %d/%d\n", k, med, boot[100], boot[1900], better, m
         }
     }' "$work/ratios"
