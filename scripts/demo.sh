#!/usr/bin/env bash
# The main job in one command: build the add-in, start the scale simulator on
# 127.0.0.1, and drive the add-in through the platform stand-in as the
# platform would (DeviceTest, Open, UploadGoods of examples/goods.xml in
# portions, Close). Prints what the platform sees and what the scale holds.
# The simulator answers after DEMO_ANSWER_DELAY_MS (default 20), as a real
# scale, so that the upload's progress and summary show.
#   scripts/demo.sh [goods-table.xml] [rows-per-portion]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

table=${1:-examples/goods.xml}
rows=${2:-10}
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target Lumaro1CDriverNative lumaro-standin lumaro-scalesim >/dev/null

work=$(mktemp -d)
# The add-in's settings and log: kept after the run, fresh for each one.
if [ -n "${VXDRIVER_ROOT:-}" ]; then
    root=$VXDRIVER_ROOT
else
    root=$PWD/build/demo-root/VxDriver
    rm -rf build/demo-root
fi
simlog=$work/scalesim.out
build/bin/lumaro-scalesim --port 0 --weight 1.234 --answer-delay "${DEMO_ANSWER_DELAY_MS:-20}" --catalogue-json "$work/catalogue.json" >"$simlog" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null || true; rm -rf "$work"' EXIT

port=
for _ in $(seq 100); do
    port=$(sed -n 's/^Listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$simlog")
    [ -n "$port" ] && break
    sleep 0.05
done
[ -n "$port" ] || { echo "The scale simulator did not start:"; cat "$simlog"; exit 1; }
echo "Scale simulator listening on 127.0.0.1:$port"
echo

status=0
build/bin/lumaro-standin --root "$root" --ip 127.0.0.1 --port "$port" --model 0 --rows "$rows" run "$table" || status=$?

kill -TERM $sim
wait $sim || true
echo
echo "What the scale received (simulator's record):"
sed -n '/^Catalogue/,$p' "$simlog"
exit $status
