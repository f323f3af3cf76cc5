#!/bin/sh
# Checks that the machine's lpr, lpq and lprm, where it has them, still
# belong to CUPS (cups-bsd): the tests run their lpd from an unpacked package
# and must never install one that replaces the machine's printing commands.
# Another spooler's commands pass only where cups-bsd was never installed;
# a package that replaces cups-bsd leaves it removed with its configuration.
set -u
status=0
cups_bsd=$(dpkg-query -W -f='${Status}' cups-bsd 2>/dev/null)
for command in /usr/bin/lpr /usr/bin/lpq /usr/bin/lprm; do
  [ -e "$command" ] || continue
  owner=$(dpkg -S "$command" 2>/dev/null | sed -n 's/^\([^:]*\): .*/\1/p' | head -n 1)
  [ "$owner" = cups-bsd ] && continue
  case $cups_bsd in
    "install ok installed" | *config-files)
      echo "FAILED: $command belongs to ${owner:-no package}, not cups-bsd ($cups_bsd)"
      status=1
      ;;
    *) echo "note: $command belongs to ${owner:-no package}; cups-bsd was never installed" ;;
  esac
done
[ "$status" = 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit "$status"
