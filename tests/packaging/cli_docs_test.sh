#!/usr/bin/env bash
# pimo-cli's man page and bash completion know every option its --help
# lists, and the completion completes options and their values.
# Arguments: the pimo-cli program, the source folder.
set -euo pipefail
cli="$1"
data="$2/data"
fail() { echo "FAIL: $*" >&2; exit 1; }

options=$("$cli" --help | grep -o -- '--[a-z][a-z0-9-]*' | sort -u)
[ "$(wc -l <<<"$options")" -ge 40 ] || fail "--help lists too few options"
for option in $options; do
    grep -q -- "${option//-/\\\\-}" "$data/man/pimo-cli.1" || fail "man page lacks $option"
    grep -qw -- "$option" "$data/completion/pimo-cli" || fail "completion lacks $option"
done

# shellcheck source=/dev/null
source "$data/completion/pimo-cli"
complete_words() {
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _pimo_cli
    echo "${COMPREPLY[*]}"
}
[ "$(complete_words pimo-cli --files-f)" = "--files-from" ] || fail "option not completed"
[ "$(complete_words pimo-cli -f '')" = "jpeg png gif" ] || fail "format values not completed"
[ "$(complete_words pimo-cli --mode m)" = "manual" ] || fail "mode values not completed"
[ -z "$(complete_words pimo-cli --quality '')" ] || fail "a number was completed"
echo "$(wc -l <<<"$options") options documented and completed"
