# Bash completion for orvante-cli: its commands, its options and their values, and the
# ports that `orvante-cli ports` lists. Plain bash: it needs nothing from the
# bash-completion package.

_orvante_cli_commands="help ports connect ping learn send capacity tasks ac export import verify
provision"
_orvante_cli_common_options="-h --help -V --version -p --port -b --baud --parity --data-bits
--stop-bits --target --json --verbose"
# Options that take the next word as their value.
_orvante_cli_valued=" -p --port -b --baud --parity --data-bits --stop-bits --target --timeout
--retries --power --mode --temp --fan --swing --jobs --log-dir "

# _orvante_cli_offer WORDS...: the words that start with the word being completed.
_orvante_cli_offer() {
    local IFS=$' \t\n'
    COMPREPLY=($(compgen -W "$*" -- "$cur"))
}

_orvante_cli_files() {
    local IFS=$'\n'
    compopt -o filenames 2>/dev/null
    COMPREPLY=($(compgen -f -- "$cur"))
}

# The value of the option `prev`; false when `prev` takes none.
_orvante_cli_value() {
    case "$prev" in
        -p | --port)
            if [[ "$cur" == /* ]]; then
                _orvante_cli_files
            else
                # The listed ports, and the virtual module built into the program.
                _orvante_cli_offer "$("$program" ports 2>/dev/null | cut -d' ' -f1)" demo
            fi
            ;;
        -b | --baud) _orvante_cli_offer 1200 2400 4800 9600 19200 38400 57600 115200 230400 ;;
        --parity) _orvante_cli_offer N O E ;;
        --data-bits) _orvante_cli_offer 8 7 6 ;;
        --stop-bits) _orvante_cli_offer 1 2 ;;
        --power) _orvante_cli_offer on off ;;
        --mode) _orvante_cli_offer auto cool heat fan dry ;;
        --fan) _orvante_cli_offer auto 1 2 3 4 5 ;;
        --swing) _orvante_cli_offer vertical horizontal off ;;
        --temp) _orvante_cli_offer $(seq 16 30) ;;
        --log-dir)
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -d -- "$cur"))
            ;;
        --target | --timeout | --retries | --jobs) COMPREPLY=() ;;
        *) return 1 ;;
    esac
}

_orvante_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local program=${COMP_WORDS[0]}
    _orvante_cli_value && return 0

    # The command so far ("capacity set"), and how many words it has after it.
    local command="" arguments=0 i word
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if [[ "$_orvante_cli_valued" == *" $word "* ]]; then
            ((i++))
        elif [[ "$word" == -* ]]; then
            :
        elif [[ -z "$command" ]]; then
            command=$word
        elif [[ "$command" == capacity || "$command" == tasks ]] && [[ "$word" == set ]] &&
            ((arguments == 0)); then
            command="$command set"
        else
            ((arguments++))
        fi
    done

    if [[ "$cur" == -* ]]; then
        local own=""
        case "$command" in
            learn) own="--timeout" ;;
            "capacity set") own="--yes" ;;
            ac) own="--power --mode --temp --fan --swing" ;;
            export) own="--retries" ;;
            import) own="--verify --retries" ;;
            verify) own="--retries" ;;
            provision) own="--all --jobs --log-dir --retries" ;;
        esac
        _orvante_cli_offer $_orvante_cli_common_options $own
        return 0
    fi
    case "$command" in
        "") _orvante_cli_offer $_orvante_cli_commands ;;
        help) ((arguments == 0)) && _orvante_cli_offer ${_orvante_cli_commands#help } ;;
        capacity | tasks) ((arguments == 0)) && _orvante_cli_offer set ;;
        export | import | verify | provision | "tasks set") ((arguments == 0)) && _orvante_cli_files ;;
        *) COMPREPLY=() ;;
    esac
    return 0
}

complete -F _orvante_cli orvante-cli
