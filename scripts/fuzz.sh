#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs them side
# by side, each for a bounded time, starting from a copy of its seed corpus
# (the repository is never written). Fails on any crash, leak, timeout or
# memory blow-up; the input that caused it is kept in
# build-fuzz/fuzz-findings/<target>/.
#   scripts/fuzz.sh [seconds per target, default 60] [target...]
# Targets: json goodstable scalebytes (all by default).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(json goodstable scalebytes)

LUMARO_WITH_CLANG=1 scripts/install-deps.sh

dir=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMARO_FUZZ=ON >/dev/null
cmake --build "$dir" -j "$(nproc)" --target "${targets[@]/#/fuzz_}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The driver's log and settings go to a folder of this run.
export VXDRIVER_ROOT="$work/root"
findings="$dir/fuzz-findings"

# The targets run side by side: the scale target mostly waits on its
# sockets, and two cores serve the other two.
fuzz_one() {
    local name=$1 corpus=$work/corpus-$1 artifacts=$work/artifacts-$1 start status=0
    mkdir -p "$corpus" "$artifacts"
    cp fuzz/corpus/"$name"/* "$corpus"/
    local options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
                   -artifact_prefix="$artifacts/")
    [ -f "fuzz/dict/$name.dict" ] && options+=(-dict="fuzz/dict/$name.dict")
    start=$(date +%s)
    "$dir/fuzz/fuzz_$name" "${options[@]}" "$corpus" >"$work/$name.log" 2>&1 || status=$?
    echo "$status $(( $(date +%s) - start ))" >"$work/$name.result"
}
for name in "${targets[@]}"; do
    fuzz_one "$name" &
done
wait

failed=()
for name in "${targets[@]}"; do
    artifacts="$work/artifacts-$name"
    log="$work/$name.log"
    read -r status elapsed <"$work/$name.result"
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    printf '%-12s %10s executions in %4d s, corpus %d inputs' \
        "$name" "${runs:-?}" "$elapsed" "$(find "$work/corpus-$name" -type f | wc -l)"

    if [ "$status" -ne 0 ] || [ -n "$(ls -A "$artifacts")" ]; then
        printf ', FAILED (exit %d)\n' "$status"
        grep -E -A1 '^(==[0-9]+== ?ERROR|SUMMARY|Property broken)|runtime error|ALARM|out-of-memory' "$log" \
            | grep -v -E '^ +#[0-9]+ ' | head -n 20 || true
        mkdir -p "$findings/$name"
        cp "$artifacts"/* "$findings/$name"/ 2>/dev/null || true
        cp "$log" "$findings/$name/"
        echo "    input and log kept in $findings/$name/"
        failed+=("$name")
    else
        printf ', no finding\n'
    fi
done

if [ ${#failed[@]} -ne 0 ]; then
    echo "Fuzzing found faults in: ${failed[*]}"
    exit 1
fi
