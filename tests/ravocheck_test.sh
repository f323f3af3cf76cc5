#!/bin/sh
# The built ravocheck's exit statuses and the stream each result goes to.
# Usage: ravocheck_test.sh RAVOCHECK
set -u
ravocheck=${1:?usage: ravocheck_test.sh RAVOCHECK}
. "$(dirname "$0")/check.sh"

dir=$(mktemp -d "${TMPDIR:-/tmp}/ravocheck-XXXXXX")
trap 'rm -rf "$dir"' EXIT
chmod 755 "$dir"
printf '[Marven]\nink=MONO\nresolution=360\nmediasize=A4\n' >"$dir/usable"
printf '[Marven]\nink=MONO\n' >"$dir/unusable"
cp "$dir/usable" "$dir/private"
mkdir -m 700 "$dir/closed"
cp "$dir/usable" "$dir/closed/usable"
chmod 644 "$dir/usable" "$dir/unusable" "$dir/closed/usable"
chmod 600 "$dir/private"

# label | arguments | status | stream | the start of its first line
while IFS='|' read -r label arguments status stream start; do
  # shellcheck disable=SC2086 # the arguments are words
  "$ravocheck" $arguments >"$dir/out" 2>"$dir/err"
  check "$label: status" "$status" "$?"
  check "$label: $stream" "$start" "$(head -n 1 "$dir/$stream" | cut -c "1-${#start}")"
done <<TABLE
usable|$dir/usable|0|out|$dir/usable:1: section [Marven]
unusable|$dir/unusable|1|err|$dir/unusable: resolution is not set
missing|$dir/absent|1|err|$dir/absent: cannot be opened
unreadable to the spooler|$dir/private|1|err|$dir/private: not readable by others (mode 0600)
in a closed directory|$dir/closed/usable|1|err|$dir/closed/usable: the directory $dir/closed above
help|--help|0|out|usage: ravocheck [FILE]
unknown option|-x|2|err|usage: ravocheck [FILE]
two files|$dir/usable $dir/usable|2|err|usage: ravocheck [FILE]
TABLE
finish
