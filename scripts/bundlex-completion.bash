# Bash completion for bundlex: its commands and options, and .vlt and .xml
# files (folders too, to walk into). Installed by `cmake --install` into
# share/bash-completion/completions/bundlex; source it by hand otherwise.

_bundlex() {
    local cur="${COMP_WORDS[COMP_CWORD]}"
    local commands="--list --verify --check --gallery --extract --update --delete --compact --diff --help --version"
    local options="--json --quiet --long --no-wait --force --allow-outside --prune --jobs"
    local i
    # After "--" every word is a path.
    for ((i = 1; i < COMP_CWORD; i++)); do
        [[ "${COMP_WORDS[i]}" == "--" ]] && { _bundlex_files "$cur"; return; }
    done
    if [[ "$cur" == -* ]]; then
        COMPREPLY=($(compgen -W "$commands $options --" -- "$cur"))
        return
    fi
    _bundlex_files "$cur"
}

_bundlex_files() {
    local IFS=$'\n' f
    COMPREPLY=()
    for f in $(compgen -d -- "$1"); do COMPREPLY+=("$f/"); done
    for f in $(compgen -f -- "$1"); do
        case "${f,,}" in
            *.vlt | *.xml | *.html) [[ -d "$f" ]] || COMPREPLY+=("$f") ;;
        esac
    done
    compopt -o nospace -o filenames 2>/dev/null
}

complete -F _bundlex bundlex
