#!/bin/bash
# The bash completion of orvante-cli, sourced into a plain bash (no bash-completion
# package) and asked as bash asks it: commands, options, option values, files, and the
# ports that orvante-cli lists, with a virtual module publishing one.
#   completion_test.sh COMPLETION_FILE CLI SIM
set -u
completion=$1 cli=$2 sim=$3
failures=0
runtime=$(mktemp -d)
chmod 700 "$runtime"
export XDG_RUNTIME_DIR=$runtime
"$sim" --port 161 >"$runtime/ready" 2>/dev/null &
sim_pid=$!
trap 'kill $sim_pid 2>/dev/null; wait $sim_pid 2>/dev/null; rm -rf "$runtime"' EXIT
for _ in $(seq 100); do
    grep -q "^orvante-sim: COM161 " "$runtime/ready" && break
    sleep 0.05
done
touch "$runtime/码库.db" "$runtime/other.txt"

source "$completion"

# expect "WORDS…" "EXPECTED…": completes the last word of WORDS (the program first).
expect() {
    read -ra COMP_WORDS <<<"$1"
    [[ "$1" == *" " ]] && COMP_WORDS+=("")
    COMP_WORDS[0]=$cli
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _orvante_cli
    local got="${COMPREPLY[*]}"
    if [ "$got" != "$2" ]; then
        echo "FAILED: '$1' gave '$got', expected '$2'"
        failures=$((failures + 1))
    else
        echo "ok: '$1' -> '$2'"
    fi
}

# Every command the program has, in the order its help lists them.
expect "orvante-cli " "$("$cli" --help | sed -n '/^Subcommands:/,/^$/p' | awk 'NR > 1 && NF { print $1 }' | xargs)"
expect "orvante-cli ex" "export"
expect "orvante-cli --port COM161 c" "connect capacity"
expect "orvante-cli capacity " "set"
expect "orvante-cli help ta" "tasks"
expect "orvante-cli ac 5 --mode c" "cool"
expect "orvante-cli ac 5 --sw" "--swing"
expect "orvante-cli --swing ho" "horizontal"
expect "orvante-cli import x.db --v" "--version --verbose --verify"
expect "orvante-cli provision p.json --a" "--all"
expect "orvante-cli -b 1152" "115200"
expect "orvante-cli --parity " "N O E"
expect "orvante-cli -p COM16" "COM161"
expect "orvante-cli -p de" "demo"
expect "orvante-cli --port COM161 export $runtime/码" "$runtime/码库.db"
expect "orvante-cli tasks set $runtime/oth" "$runtime/other.txt"
expect "orvante-cli learn 5 " ""

[ "$failures" -eq 0 ] && echo "all passed" || echo "$failures failed"
exit $((failures > 0))
