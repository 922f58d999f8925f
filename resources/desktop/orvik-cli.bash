# bash completion for orvik-cli. Commands and options are read from the program's own --help,
# so every command it has is completed.

_orvik_cli_help() {
    "$1" "${@:2}" --help 2>/dev/null
}

_orvik_cli_subcommands() {
    # The indented names under a "Subcommands:" heading.
    awk 'tolower($0) ~ /subcommands:[ ]*$/ { inside = 1; next }
         inside && /^  +[a-z]/ { print $1; next }
         inside && !/^ / { inside = 0 }'
}

_orvik_cli_options() {
    grep -oE '(^|[ ,])--?[A-Za-z][A-Za-z0-9-]*' | sed 's/^[ ,]*//' | sort -u
}

_orvik_cli() {
    local cur prog i word help subs path=()
    cur=${COMP_WORDS[COMP_CWORD]}
    prog=${COMP_WORDS[0]}
    help=$(_orvik_cli_help "$prog")
    # Walk down the subcommands already typed.
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        subs=$(_orvik_cli_subcommands <<<"$help")
        if [[ -n $subs ]] && grep -qxF -- "$word" <<<"$subs"; then
            path+=("$word")
            help=$(_orvik_cli_help "$prog" "${path[@]}")
        fi
    done
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$(_orvik_cli_options <<<"$help")" -- "$cur")
        return
    fi
    subs=$(_orvik_cli_subcommands <<<"$help")
    if [[ -n $subs && ${#path[@]} -eq 0 || -n $subs && ${COMP_WORDS[COMP_CWORD - 1]} == "${path[-1]}" ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$subs" -- "$cur")
        [[ ${#COMPREPLY[@]} -gt 0 ]] && return
    fi
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
}

complete -F _orvik_cli orvik-cli
