# bash completion for halfmap-cli                          -*- shell-script -*-
# Options, folders as arguments, and after -o the one bitmap INPUT.

_halfmap_cli()
{
    local cur prev words cword split
    _init_completion -s || return

    case $prev in
        -o)
            _filedir
            return
            ;;
        -j | --jobs)
            # 1 to the processors here, within the 64 the option takes.
            local most=$(_ncpus)
            ((most > 64)) && most=64
            COMPREPLY=($(compgen -W "$(seq 1 "$most")" -- "$cur"))
            return
            ;;
    esac
    $split && return

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '-j --jobs -q --quiet --json --verify --changed
            --watch -o -h --help --version' -- "$cur"))
        return
    fi

    local word
    for word in "${words[@]:1:cword-1}"; do
        if [[ $word == -o ]]; then
            _filedir
            return
        fi
    done
    _filedir -d
} &&
    complete -F _halfmap_cli halfmap-cli

# ex: filetype=sh
