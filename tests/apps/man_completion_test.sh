#!/usr/bin/env bash
# The manual pages render without a warning and name every option the
# program's --help names; the bash completion of tamblin-cli offers the
# sub-commands, the options of each, and file names where a file is wanted.
#
#   man_completion_test.sh MAN_DIR COMPLETION PROGRAM...
set -euo pipefail
man_dir=$1
completion=$2
shift 2
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

for program in "$@"; do
  page=$man_dir/$(basename "$program").1
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man -l $page: $warnings"
  text=$(MANWIDTH=200 man -l "$page" 2>/dev/null | col -bx)
  options=$("$program" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u)
  [ -n "$options" ] || fail "$program --help names no option"
  for option in $options; do
    grep -qF -- "$option" <<<"$text" || fail "$page lacks $option"
  done
  grep -qF "$("$program" --version | cut -d' ' -f2)" <<<"$text" || fail "$page lacks the version"
done

# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion
# shellcheck disable=SC1090
source "$completion"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
touch "$work/users.txt"
cd "$work"
complete_line() {
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE="${COMP_WORDS[*]}"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  _tamblin_cli
  printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' '
}
expect() {
  local want=$1
  shift
  local got
  got=$(complete_line "$@")
  [ "$got" = "$want" ] || fail "completing '$*': got '$got', want '$want'"
}
expect 'download ' tamblin-cli d
expect '--cookies --help --input-file --json ' tamblin-cli list --input-file x --
expect '--retry-failed ' tamblin-cli download URL --r
expect 'users.txt ' tamblin-cli download --input-file u
expect 'users.txt ' tamblin-cli list --cookies=u
echo "manual pages and completion ok"
