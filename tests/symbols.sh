#!/bin/sh
# Checks that the filter's global names are in its symbol table under exactly
# these names, as read-only data or code, and that a stripped copy still
# exports every one of them. With --stripped, the filter is a stripped one,
# as packaged, and only its dynamic symbol table is looked at.
# Usage: symbols.sh PATH-TO-RAVOFILTER [--stripped]
set -u
filter=${1:?usage: symbols.sh PATH-TO-RAVOFILTER}
stripped=$(mktemp "${TMPDIR:-/tmp}/ravofilter-stripped-XXXXXX")
trap 'rm -f "$stripped"' EXIT
strip -o "$stripped" "$filter" || exit 1

status=0
check() { # LABEL SYMBOLS
  for name in Params Param_Num Def_Conf paper_auto paper_roll paper_roll_trim \
    paper_auto_trim paper_auto_trim_4 Inks Ink_Num Bins Bin_Num Media_Size; do
    printf '%s\n' "$2" | grep -Eq "^[0-9a-f]+ [RrDd] $name\$" ||
      { echo "$1: missing data symbol: $name"; status=1; }
  done
  for name in call_paper_conf round_off read_conf set_conf seek_model_section \
    strip_space conf_error check_postscript run_gs; do
    printf '%s\n' "$2" | grep -Eq "^[0-9a-f]+ T $name\$" ||
      { echo "$1: missing function symbol: $name"; status=1; }
  done
}
[ "${2:-}" = --stripped ] || check "symbol table" "$(nm "$filter")"
check "stripped, dynamic" "$(nm -D "$stripped")"
[ "$status" = 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit "$status"
