#!/bin/sh
# Checks that the machine's lpr, lpq and lprm, where it has them, still
# belong to CUPS (cups-bsd): the tests run their lpd from an unpacked package
# and must never install one that replaces the machine's printing commands.
set -u
status=0
for command in /usr/bin/lpr /usr/bin/lpq /usr/bin/lprm; do
  [ -e "$command" ] || continue
  owner=$(dpkg -S "$command" 2>/dev/null | sed -n 's/^\([^:]*\): .*/\1/p' | head -n 1)
  if [ "$owner" != cups-bsd ]; then
    echo "FAILED: $command belongs to ${owner:-no package}, not cups-bsd"
    status=1
  fi
done
[ "$status" = 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit "$status"
