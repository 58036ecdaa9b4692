#!/bin/sh
# The Windows tests' modules: orvante-sim, built for Linux, publishing COM<n> in the
# ports directory that the Wine prefix's registry points at.
#   virtual_module.sh start N SIM [OPTIONS...]  starts it and waits for its port; a file
#                                              hangup-COM<N> in the ports directory ends
#                                              it (the device goes away)
#   virtual_module.sh stop N                   ends it, and waits until it has ended
set -eu
action=$1
port=$2
ports="$XDG_RUNTIME_DIR/orvante/ports"
state="$XDG_RUNTIME_DIR/module-COM$port"
case "$action" in
start)
    sim=$3
    shift 3
    "$0" stop "$port"
    rm -f "$ports/hangup-COM$port" "$ports/COM$port"
    setsid "$sim" --port "$port" "$@" </dev/null >"$state.log" 2>&1 &
    echo $! >"$state.pid"
    pid=$!
    # Ended by the hang-up file, as a test asks; in a session of its own, like the
    # module, so that it outlives this script's test.
    setsid sh -c 'while kill -0 "$1" 2>/dev/null && [ ! -e "$2" ]; do sleep 0.05; done
                  kill "$1" 2>/dev/null || true' watcher "$pid" "$ports/hangup-COM$port" \
        </dev/null >/dev/null 2>&1 &
    for _ in $(seq 100); do
        [ -e "$ports/COM$port" ] && exit 0
        sleep 0.1
    done
    echo "COM$port: the virtual module did not start:" >&2
    cat "$state.log" >&2
    exit 1
    ;;
stop)
    # Waits until it has ended: an ending module takes its entries in the ports
    # directory away, and a module started after must not find them half gone.
    if [ -f "$state.pid" ]; then
        pid=$(cat "$state.pid")
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 100); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.05
        done
        rm -f "$state.pid"
    fi
    ;;
*)
    echo "usage: virtual_module.sh start N SIM [OPTIONS...] | stop N" >&2
    exit 2
    ;;
esac
