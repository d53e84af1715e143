# bash completion for kestractl. Install as /usr/share/bash-completion/completions/kestractl or
# source it. The word lists follow the program's own tables (a test compares them).

_kestractl()
{
    local cur prev
    cur="${COMP_WORDS[COMP_CWORD]}"
    prev="${COMP_WORDS[COMP_CWORD-1]}"
    local options="--port --baud --log --raw --json --help -h --version"
    local commands="crc identify set-number info alarm mode set-mode dose reset-dose reset-stat battery history clear-history get set time set-time lock menu set-menu autocal version firmware help"
    local settings="units sound light beep sigma qm-timeout der1 der2 de hv k-der k-beta k-alpha background beta1 beta2 beta-search hist-interval"

    case "$prev" in
    --port)
        COMPREPLY=($(compgen -f -- "${cur:-/dev/tty}"))
        return
        ;;
    --log)
        COMPREPLY=($(compgen -d -- "$cur"))
        return
        ;;
    --baud)
        COMPREPLY=($(compgen -W "9600 19200 38400 57600 115200" -- "$cur"))
        return
        ;;
    get | set)
        COMPREPLY=($(compgen -W "$settings all" -- "$cur"))
        return
        ;;
    set-mode)
        COMPREPLY=($(compgen -W "gamma beta1 beta2 beta-search" -- "$cur"))
        return
        ;;
    lock | reset-stat)
        COMPREPLY=($(compgen -W "on off" -- "$cur"))
        return
        ;;
    autocal)
        COMPREPLY=($(compgen -W "start stop status params" -- "$cur"))
        return
        ;;
    firmware)
        COMPREPLY=($(compgen -f -- "$cur"))
        return
        ;;
    esac
    if [[ "$cur" == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
    else
        COMPREPLY=($(compgen -W "$commands" -- "$cur"))
    fi
}
complete -F _kestractl kestractl
