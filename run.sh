#!/usr/bin/env bash
# Builds and starts Gyrovane, by default together with a simulated bus of three Kinetra nodes of three
# model generations (firmware 31.8.2.70, 51.2.0.11 and 3.1.6.0), which the program finds as a plugged-in
# port. The simulator stops when the program exits.
#
#   ./run.sh            program and simulator (the program alone when a USB serial adapter is attached)
#   ./run.sh --no-sim   the program alone, for real modules
#   ./run.sh --sim      program and simulator, even with an adapter attached
#   ./run.sh --sim-only the three simulated nodes alone (for a program started otherwise); Ctrl-C stops them
#   ./run.sh -- OPTION...  more options for the simulator, after its own (later ones win), e.g.
#                       -- --odr 800 --motion calibration --mag-soft-iron strong
set -euo pipefail
cd "$(dirname "$0")"

use_sim=auto
sim_extra=()
while (($#)); do
    arg=$1
    shift
    case "$arg" in
    --)
        sim_extra=("$@")
        break
        ;;
    --no-sim) use_sim=0 ;;
    --sim) use_sim=1 ;;
    --sim-only) use_sim=only ;;
    -h | --help)
        sed -n '2,12s/^# \{0,1\}//p' "$0"
        exit 0
        ;;
    *)
        echo "run.sh: unknown option '$arg' (try --help)" >&2
        exit 2
        ;;
    esac
done

if [[ "$use_sim" == auto ]]; then
    use_sim=1
    if compgen -G "/dev/ttyUSB*" >/dev/null || compgen -G "/dev/ttyACM*" >/dev/null; then
        echo "run.sh: a USB serial adapter is attached; starting without the simulator (--sim starts it anyway)"
        use_sim=0
    fi
fi

scripts/install-deps run
jobs=$(nproc 2>/dev/null || echo 2)
# The whole program, even where a partial developer build left folders out; only what running needs is
# built (./test.sh builds the rest in the same tree).
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DGYROVANE_SKIP= >/dev/null
cmake --build build -j"$jobs" --target Gyrovane kinetra-nodesim

sim_args=(--node id=32,name=Bow,fw=31.8.2.70 --node id=33,name=Mast,fw=51.2.0.11
    --node id=34,name=Stern,fw=3.1.6.0 --odr 50 "${sim_extra[@]}")
if [[ "$use_sim" == only ]]; then
    exec build/bin/kinetra-nodesim "${sim_args[@]}"
fi

sim_pid=""
sim_out=""
app_pid=""
stop_all() {
    if [[ -n "$app_pid" ]] && kill -0 "$app_pid" 2>/dev/null; then
        kill -TERM "$app_pid" 2>/dev/null || true
        wait "$app_pid" 2>/dev/null || true
    fi
    if [[ -n "$sim_pid" ]] && kill -0 "$sim_pid" 2>/dev/null; then
        kill -TERM "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    if [[ -n "$sim_out" ]]; then
        rm -f "$sim_out"
    fi
}
trap stop_all EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

if ((!use_sim)); then
    exec build/bin/Gyrovane
fi

build/bin/Gyrovane &
app_pid=$!
# Started once the program has made its first port list, the simulator comes as a plugged-in port,
# which the program opens by itself (a port that is there from the start waits for "Connect").
sleep 1.5
sim_out=$(mktemp)
build/bin/kinetra-nodesim "${sim_args[@]}" >"$sim_out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
    [[ -s "$sim_out" ]] && break
    if ! kill -0 "$sim_pid" 2>/dev/null; then
        echo "run.sh: the node simulator did not start:" >&2
        cat "$sim_out" >&2
        break
    fi
    sleep 0.1
done
[[ -s "$sim_out" ]] && echo "run.sh: simulated nodes on $(head -n 1 "$sim_out")"

status=0
wait "$app_pid" || status=$?
app_pid=""
exit "$status"
