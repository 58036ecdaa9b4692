#!/usr/bin/env bash
# Soak of the library transfer: ROUNDS commands of orvante-cli (export and import, one a
# round) against orvante-sim, each with a fault of the module's or the line's chosen at
# random, and some with the module killed, stopped or the command interrupted half-way.
# Each command is counted as
#   clean           status 0, and the exported file is exactly the module's library
#                   (an import: read back and verified)
#   failed cleanly  a failure status, and the operator's file exactly as it was
#   corrupted       anything else: a file changed by a failure, a success with wrong bytes
#   hung            nothing sent or received for IDLE seconds (then killed): every
#                   wait of the program's is bounded far below that
# Not part of the test run: it takes minutes. Build first (scripts/test).
#   bench/soak_transfers.sh [ROUNDS [SEED]]     ORVANTE_BIN: the programs (build/bin)
set -uo pipefail

rounds=${1:-200}
seed=${2:-$RANDOM}
RANDOM=$seed
bin=${ORVANTE_BIN:-$(cd "$(dirname "$0")/.." && pwd)/build/bin}
idle=30
port_number=97
port=COM$port_number

work=$(mktemp -d)
export XDG_RUNTIME_DIR=$work/run
mkdir -m 700 "$XDG_RUNTIME_DIR"
sim_pid=
stop_sim() {
    [ -n "$sim_pid" ] || return 0
    kill -CONT "$sim_pid" 2>/dev/null
    kill "$sim_pid" 2>/dev/null
    { wait "$sim_pid"; } 2>/dev/null
    sim_pid=
}
trap 'stop_sim; rm -rf "$work"' EXIT

# Starts the module with the options given; waits until it has published its port.
start_sim() {
    : > "$work/sim.out"
    "$bin/orvante-sim" --port "$port_number" "$@" > "$work/sim.out" 2> "$work/sim.err" &
    sim_pid=$!
    for _ in $(seq 500); do
        grep -q "^orvante-sim: $port " "$work/sim.out" && return 0
        sleep 0.01
    done
    echo "orvante-sim did not start: $(cat "$work/sim.err")" >&2
    exit 1
}

# One fault of the module's or the line's, as orvante-sim options.
random_faults() {
    case $((RANDOM % 10)) in
        0) ;;
        1) echo --drop $((2 + RANDOM % 15)) ;;
        2) echo --delay $((RANDOM % 2600)) ;;  # past 2000 ms the request goes again
        3) echo --split $((1 + RANDOM % 8)) --gap $((RANDOM % 30)) ;;
        4) echo --garbage --seed $RANDOM ;;
        5) echo --repeat=$((1 + RANDOM % 2)) ;;
        6) echo --stale-export ;;
        7) echo --corrupt ;;
        8) echo --baud 115200 ;;
        9) echo --drop $((2 + RANDOM % 5)) --delay $((RANDOM % 2600)) --stale-export ;;
    esac
}

# What happens half-way, if anything: the module killed or stopped, or Ctrl+C.
random_event() {
    case $((RANDOM % 10)) in
        0) echo kill ;;
        1) echo stop ;;
        2) echo interrupt ;;
        *) echo none ;;
    esac
}

# Runs orvante-cli with the arguments given, the event half-way; sets $status (hung:
# killed after $idle seconds without a frame in its --verbose log).
run_cli() {
    local event=$1
    shift
    "$bin/orvante-cli" --verbose --port "$port" "$@" > "$work/cli.out" 2> "$work/cli.err" &
    local cli_pid=$!
    if [ "$event" != none ]; then
        sleep "0.$((RANDOM % 10))"
        case $event in
            kill)
                kill -KILL "$sim_pid" 2>/dev/null
                { wait "$sim_pid"; } 2>/dev/null
                sim_pid=
                ;;
            stop) kill -STOP "$sim_pid" 2>/dev/null ;;
            interrupt) kill -INT "$cli_pid" 2>/dev/null ;;
        esac
    fi
    local logged=-1 quiet=0 now
    hung=false
    while kill -0 "$cli_pid" 2>/dev/null; do
        sleep 1
        now=$(stat -c %s "$work/cli.err")
        if [ "$now" -ne "$logged" ]; then logged=$now quiet=0; else quiet=$((quiet + 1)); fi
        if [ "$quiet" -ge "$idle" ]; then
            hung=true
            kill -KILL "$cli_pid" 2>/dev/null
        fi
    done
    { wait "$cli_pid"; } 2>/dev/null
    status=$?
}

declare -A tally
count() { tally[$1]=$((${tally[$1]:-0} + 1)); }

echo "soak: $rounds rounds, seed $seed (a dot a round)"
start=$(date +%s)
for round in $(seq "$rounds"); do
    size=$((1 + RANDOM % 8192))
    faults=$(random_faults)
    event=$(random_event)
    # A reply late by D ms on every block: at most 40 s of them a round.
    if [[ $faults =~ --delay\ ([0-9]+) ]] && ((BASH_REMATCH[1] > 0)); then
        size=$((size < 40000 * 50 / BASH_REMATCH[1] ? size : 40000 * 50 / BASH_REMATCH[1]))
    fi
    if ((round % 2)); then
        command=export
        # What the module holds, read without faults, then over a file of the operator's.
        start_sim --library-size "$size"
        "$bin/orvante-cli" --port "$port" export "$work/reference.db" > /dev/null 2>&1 ||
            { echo "round $round: the fault-free export failed" >&2; exit 1; }
        stop_sim
        head -c $((RANDOM % 9000)) /dev/urandom > "$work/good.db"
        cp "$work/good.db" "$work/out.db"
        rm -f "$work/out.db.part"
        # shellcheck disable=SC2086
        start_sim --library-size "$size" $faults
        run_cli "$event" export "$work/out.db" --retries 2
        if $hung; then
            outcome=hung
        elif [ "$status" -eq 0 ]; then
            cmp -s "$work/out.db" "$work/reference.db" && outcome=clean || outcome=corrupted
        else
            cmp -s "$work/out.db" "$work/good.db" && outcome="failed cleanly" || outcome=corrupted
        fi
    else
        command=import
        head -c "$size" /dev/urandom > "$work/image.db"
        cp "$work/image.db" "$work/image.copy"
        # shellcheck disable=SC2086
        start_sim --library-size "$size" $faults
        run_cli "$event" import "$work/image.db" --verify --retries 2
        if $hung; then
            outcome=hung
        elif ! cmp -s "$work/image.db" "$work/image.copy"; then
            outcome=corrupted
        elif [ "$status" -eq 0 ]; then
            outcome=clean
        else
            outcome="failed cleanly"
        fi
    fi
    stop_sim
    printf . >&2
    count "$command $outcome"
    count "$outcome"
    if [ "$outcome" = corrupted ] || [ "$outcome" = hung ]; then
        echo "round $round: $command $outcome (status $status; faults: ${faults:-none};" \
            "event: $event; $size bytes): $(grep -v '^[0-9][0-9]:' "$work/cli.err" | tr '\n' ' ')" >&2
    fi
done

echo >&2
echo "soak: $rounds rounds in $(($(date +%s) - start)) s, seed $seed"
for outcome in clean "failed cleanly" corrupted hung; do
    printf '  %-15s %4d  (export %d, import %d)\n' "$outcome" "${tally[$outcome]:-0}" \
        "${tally[export $outcome]:-0}" "${tally[import $outcome]:-0}"
done
[ "${tally[corrupted]:-0}" -eq 0 ] && [ "${tally[hung]:-0}" -eq 0 ]
