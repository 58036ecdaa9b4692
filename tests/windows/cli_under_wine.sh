#!/bin/bash
# orvante-cli.exe under Wine against its built-in virtual module (demo4): every kind of
# command, a library round trip through a file with a Chinese name, and the exit
# statuses of a module that does not answer, of a port that does not exist, of an
# export that cannot finish (its file left as it was) and of Ctrl+C. The port list and
# the module lost during an export are a real COM port's: the virtual module on Linux
# behind COM8.
#   cli_under_wine.sh WINE_RUN BUILD CLI_EXE WORK_DIR VIRTUAL_MODULE_SH SIM
set -uo pipefail
wine_run=$1 build=$2 cli=$3 work=$4 module=$5 sim=$6
# Not "demo": the window's test, which may run at the same time, holds that one.
port=demo4
failures=0

rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1

# run EXPECTED_STATUS EXPECTED_OUTPUT_PATTERN ARGS...: one command and what it must give.
run() {
    local expected_status=$1 pattern=$2
    shift 2
    local output status
    output=$("$wine_run" "$build" "$cli" "$@" 2>&1)
    status=$?
    output=${output//$'\r'/}
    if [ "$status" -ne "$expected_status" ] || ! grep -Eq -- "$pattern" <<<"$output"; then
        echo "FAILED: orvante-cli $*: status $status (expected $expected_status)"
        echo "$output" | sed 's/^/    /'
        failures=$((failures + 1))
    else
        echo "ok: orvante-cli $* -> $status"
    fi
}

run 0 "COM8 " ports
# The built-in module keeps its state between runs (and test runs): started afresh.
run 0 "^1234$" --port "$port:clean" connect
run 0 "1234: answered" --port "$port" ping
run 0 "^[0-9]+$" --port "$port" learn 3
run 0 "slot 3: sent" --port "$port" send 3
run 0 '"capacity": ?100' --port "$port" --json capacity
run 0 "task 1:" --port "$port" tasks
run 0 "pulse capacity set to 120" --port "$port" capacity set 120 --yes
run 0 '"capacity": ?120' --port "$port" --json capacity
# Timed tasks from a file named in Chinese, then read back by the command itself.
cat >"定时任务.json" <<'TASKS'
{"tasks":[{"enabled":true,"slot":3,"period":10,"delay":2,"loops":5},
 {"enabled":false,"slot":0,"period":0,"delay":0,"loops":0},
 {"enabled":false,"slot":0,"period":0,"delay":0,"loops":0}]}
TASKS
run 0 "task 1: on, slot 3, every 10 min" --port "$port" tasks set "定时任务.json"
run 0 "brand 5: sent" --port "$port" ac 5 --power on --temp 26

# A library in, the same library out over an older file: both directions of the
# transfer, file names in UTF-8 on the command line and UTF-16 at the system, and the
# part file put in the older one's place.
head -c 8192 /dev/urandom >"码库.db"
head -c 300 /dev/urandom >"码库-导出.db"
run 0 "imported 8192 bytes" --port "$port" --baud 115200 import "码库.db"
run 0 "exported 8192 bytes" --port "$port" --baud 115200 export "码库-导出.db"
if ! cmp -s "码库.db" "码库-导出.db" || [ -e "码库-导出.db.part" ]; then
    echo "FAILED: the exported library differs from the imported one, or its part stayed"
    failures=$((failures + 1))
fi
# Three modules provisioned at once from one profile: the Linux module behind COM8 and
# two built-in ones.
head -c 2000 /dev/urandom >"配置码库.db"
cat >"配置.json" <<'PROFILE'
{"library": "配置码库.db", "capacity": 120, "baud": 115200,
 "tasks": [{"enabled":true,"slot":3,"period":10,"delay":2,"loops":5},
  {"enabled":false,"slot":0,"period":0,"delay":0,"loops":0},
  {"enabled":false,"slot":0,"period":0,"delay":0,"loops":0}]}
PROFILE
run 0 '^\{"modules":\[(\{[^}]*"result":"passed"[^}]*\},?){3}\]\}$' --json provision "配置.json" \
    -p COM8 -p "demo5:clean" -p "demo6:clean,library-size=2000"
run 3 "no answer" --port "$port" --target 9999 ping
run 4 "cannot open COM42" --port COM42 connect

# An export that cannot finish leaves the file as it was: no port, then a module that
# goes away half-way.
run 4 "码库-导出.db is unchanged; nothing was received" --port COM42 export "码库-导出.db"
"$module" start 8 "$sim" --baud 9600 --library-size 65536
"$wine_run" "$build" "$cli" --port COM8 --baud 9600 --verbose export "码库-导出.db" \
    >lost.out 2>&1 &
cli_pid=$!
for _ in $(seq 200); do
    [ "$(grep -c "发送" lost.out)" -ge 5 ] && break
    sleep 0.05
done
touch "$XDG_RUNTIME_DIR/orvante/ports/hangup-COM8"
wait "$cli_pid"
status=$?
if [ "$status" -ne 4 ] || ! grep -Eq "is unchanged; the [0-9]+ bytes received are in" lost.out ||
    ! cmp -s "码库.db" "码库-导出.db" || [ ! -s "码库-导出.db.part" ]; then
    echo "FAILED: a module lost during an export: status $status (expected 4)"
    grep -v "发送\|接收" lost.out | sed 's/^/    /'
    failures=$((failures + 1))
else
    echo "ok: a module lost during an export -> 4, the file unchanged"
fi

# The progress line in a console (Wine's, on a pseudo-terminal here): the program's
# redraws must show no escape text. Wine draws its console with escape sequences of its
# own (a space, for one, as erase and move right), which are taken out before looking,
# and the spaces with them.
script -qfec "$(printf '%q ' "$wine_run" "$build" "$cli" --port "$port:library-size=2048" \
    export console.db)" \
    console.typescript >/dev/null 2>&1
status=$?
shown=$(sed -E 's/\x1b\[[0-9;?]*[A-Za-z]//g' console.typescript | tr -d '\r ')
if [ "$status" -ne 0 ] || grep -q $'\x1b' <<<"$shown" || grep -q '\[K' <<<"$shown" ||
    ! grep -q "export:[0-9]" <<<"$shown" || ! grep -q "exported2048bytes" <<<"$shown"; then
    echo "FAILED: the progress line in a console: status $status"
    cat -v console.typescript | sed 's/^/    /'
    failures=$((failures + 1))
else
    echo "ok: the progress line in a console shows no escape text"
fi

# Ctrl+C (SIGINT, which Wine turns into the console's Ctrl+C event) while a learn waits
# for a module that takes 20 s: status 130.
"$wine_run" "$build" "$cli" --port "$port:learn-delay=20000" --verbose learn 3 >ctrl-c.out 2>&1 &
cli_pid=$!
# The handshake's request, then the learn's: the command is waiting now.
for _ in $(seq 200); do
    [ "$(grep -c "发送" ctrl-c.out)" -ge 2 ] && break
    sleep 0.05
done
kill -INT "$cli_pid"
wait "$cli_pid"
status=$?
if [ "$status" -ne 130 ] || ! grep -q "interrupted" ctrl-c.out; then
    echo "FAILED: Ctrl+C during a learn: status $status (expected 130)"
    sed 's/^/    /' ctrl-c.out
    failures=$((failures + 1))
else
    echo "ok: Ctrl+C during a learn -> 130"
fi

[ "$failures" -eq 0 ] && echo "all passed" || echo "$failures failed"
exit $((failures > 0))
