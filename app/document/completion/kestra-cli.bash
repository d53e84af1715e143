# bash completion for kestra-cli. Install as /usr/share/bash-completion/completions/kestra-cli or
# source it. The word lists follow the program's own tables (a test compares them).

_kestra_cli()
{
    local cur prev
    cur="${COMP_WORDS[COMP_CWORD]}"
    prev="${COMP_WORDS[COMP_CWORD-1]}"
    local options="--home --port --remote --listen --http --for --format --from --to --alarms --json --help --version -h"
    local commands="download watch serve instruments days events export import save-text archive rename migrate password help"

    case "$prev" in
    --home)
        COMPREPLY=($(compgen -d -- "$cur"))
        return
        ;;
    --port)
        COMPREPLY=($(compgen -f -- "${cur:-/dev/tty}"))
        return
        ;;
    --format)
        COMPREPLY=($(compgen -W "csv json ksexp" -- "$cur"))
        return
        ;;
    --remote | --listen | --http | --for | --from | --to)
        COMPREPLY=()
        return
        ;;
    import | archive)
        COMPREPLY=($(compgen -f -- "$cur"))
        return
        ;;
    esac
    if [[ "$cur" == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    # The first word that is neither an option nor an option's value is the command.
    local i word command=
    for ((i = 1; i < COMP_CWORD; i++)); do
        word="${COMP_WORDS[i]}"
        case "$word" in
        --home | --port | --remote | --listen | --http | --for | --format | --from | --to) ((i++)) ;;
        -*) ;;
        *)
            command="$word"
            break
            ;;
        esac
    done
    case "$command" in
    "") COMPREPLY=($(compgen -W "$commands" -- "$cur")) ;;
    export | save-text | migrate) COMPREPLY=($(compgen -f -- "$cur")) ;;
    *) COMPREPLY=() ;;
    esac
}
complete -F _kestra_cli kestra-cli
