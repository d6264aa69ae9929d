# bash completion for ferrotick-cli                        -*- shell-script -*-

_ferrotick_cli()
{
    local cur prev words cword split
    _init_completion -s || return


    local i command='' operands=0
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --size | --buffer | --passes | --pattern | --seconds | --runs | --seed)
                ((i++))
                ;;
            -*) ;;
            *)
                if [[ -z $command ]]; then
                    command=${words[i]}
                else
                    ((operands++))
                fi
                ;;
        esac
    done

    case $prev in
        --pattern)
            COMPREPLY=($(compgen -W 'letters random' -- "$cur"))
            return
            ;;
        --size | --buffer | --passes | --seconds | --runs | --seed)
            # A number: nothing to offer.
            return
            ;;
    esac
    $split && return

    local options
    case $command in
        '')
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W '-h --help -V --version' -- "$cur"))
            else
                COMPREPLY=($(compgen -W 'measure create write read profile' \
                    -- "$cur"))
            fi
            return
            ;;
        measure)
            options='--size --buffer --passes --direct --json --quiet
                --verbose --no-progress'
            ;;
        create)
            options='--size --buffer --sync --direct --force --pattern --json
                --no-progress'
            ;;
        write)
            options='--size --buffer --passes --sync --direct --pattern --json
                --no-progress'
            ;;
        read)
            options='--buffer --passes --direct --drop-cache --json
                --no-progress'
            ;;
        profile)
            options='--size --seconds --runs --seed --json --no-progress'
            ;;
        *)
            return
            ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options -h --help" -- "$cur"))
        return
    fi
    # One FOLDER or PATH after the command.
    ((operands > 0)) && return
    case $command in
        measure | profile) _filedir -d ;;
        *) _filedir ;;
    esac
} &&
    complete -F _ferrotick_cli ferrotick-cli

# ex: filetype=sh
