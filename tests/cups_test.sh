#!/bin/sh
# Prints through a real cupsd whose queue uses the generated PPD and the built
# pstoravo: each job must reach the printer as a PNG of the chosen size and
# colour mode, and a cancelled job must leave no interpreter behind.
#
# Usage: cups_test.sh BUILD-DIR EXAMPLES-DIR
# The driver is installed from BUILD-DIR into a temporary root, where
# cupstestppd checks the PPD and its filter. Everything else happens in
# private mount, network and process namespaces, with the server's own
# configuration, spool and socket in a temporary folder, so the machine's own
# CUPS is never touched. Exits 77 (skipped) when that cannot be done, unless
# CI=true.
set -eu

build=${1:?usage: cups_test.sh BUILD-DIR EXAMPLES-DIR}
examples=${2:?usage: cups_test.sh BUILD-DIR EXAMPLES-DIR}
ppd_name=lsb/usr/ravo/marven-jetto-412_519.ppd

unavailable() {
  echo "cups test: $*" >&2
  if [ "${CI:-}" = true ]; then exit 1; fi
  exit 77
}

if [ "${RAVO_CUPS_INSIDE:-}" != 1 ]; then
  for program in cupsd cupstestppd lpadmin lpinfo lp lpstat cancel gs ps2pdf unshare; do
    command -v "$program" >/dev/null 2>&1 || [ -x "/usr/sbin/$program" ] ||
      unavailable "$program is not installed"
  done
  [ "$(id -u)" = 0 ] || unavailable "cupsd needs root inside the namespaces"
  unshare --mount --net --pid --fork --mount-proc --propagation private true 2>/dev/null ||
    unavailable "cannot make private namespaces"
  work=$(mktemp -d "${TMPDIR:-/tmp}/ravo-cups-XXXXXX")
  chmod 755 "$work"  # the server runs its helpers and filters as lp
  trap 'rm -rf "$work"' EXIT
  cmake --install "$build" --prefix "$work/root/usr" >"$work/install.log" 2>&1 ||
    { cat "$work/install.log"; exit 1; }
  RAVO_CUPS_INSIDE=1 RAVO_CUPS_WORK=$work unshare --mount --net --pid --fork --mount-proc \
    --propagation private sh "$0" "$build" "$(realpath "$examples")"
  exit $?
fi

# From here on, inside the namespaces.
root=$RAVO_CUPS_WORK/root
work=$RAVO_CUPS_WORK/server
PATH=/usr/sbin:/usr/bin:/sbin:/bin
export PATH
mkdir "$work"
mount -t tmpfs -o mode=0755 tmpfs "$work"
mount -t tmpfs -o mode=0755 tmpfs /usr/share/ppd
mkdir -p /usr/share/ppd/ravo
cp "$root"/usr/share/ppd/ravo/*.ppd /usr/share/ppd/ravo/
mount -t tmpfs -o mode=0755 tmpfs /run

# The server's programs: CUPS's own, with pstoravo among its filters.
mkdir -p "$work/etc" "$work/spool" "$work/cache" "$work/state" "$work/log" "$work/bin/filter"
install -d -m 1777 "$work/tmp" "$work/out"
for entry in /usr/lib/cups/*; do
  [ "$entry" = /usr/lib/cups/filter ] || ln -s "$entry" "$work/bin/"
done
ln -s /usr/lib/cups/filter/* "$work/bin/filter/"
install -m 755 "$root/usr/lib/cups/filter/pstoravo" "$work/bin/filter/"

cat >"$work/etc/cups-files.conf" <<CONF
ServerRoot $work/etc
RequestRoot $work/spool
TempDir $work/tmp
CacheDir $work/cache
StateDir $work/state
ServerBin $work/bin
ErrorLog $work/log/error_log
AccessLog $work/log/access_log
PageLog $work/log/page_log
Printcap $work/printcap
FileDevice Yes
User lp
Group lp
SystemGroup root
CONF
cat >"$work/etc/cupsd.conf" <<CONF
LogLevel debug
Listen $work/cups.sock
Browsing No
WebInterface No
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF
CUPS_SERVER=$work/cups.sock
export CUPS_SERVER
cupsd -f -c "$work/etc/cupsd.conf" -s "$work/etc/cups-files.conf" &
tries=0
until lpstat -r >/dev/null 2>&1; do
  tries=$((tries + 1))
  [ "$tries" -lt 100 ] || { echo "cupsd did not start:" >&2; cat "$work/log/error_log" >&2; exit 1; }
  sleep 0.1
done

. "$(dirname "$0")/check.sh"
png_header() { od -An -tu1 -j16 -N10 "$1" | awk '{ printf "%d x %d, %s", $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8, $10 == 0 ? "grey" : "colour" }'; }

ppd=$(echo "$root"/usr/share/ppd/ravo/*.ppd)
check "cupstestppd" "$ppd: PASS" "$(cupstestppd -R "$root" "$ppd" | head -n 1)"

# The filter on its own: a wrong command line, and a paper size the chosen
# source cannot feed, are refused with nothing sent.
pstoravo=$root/usr/lib/cups/filter/pstoravo
outcome() { # COMMAND...
  status=0
  "$@" <"$examples/testpage.ps" >"$work/out/direct" 2>"$work/out/messages" || status=$?
  echo "status $status, $(wc -c <"$work/out/direct") bytes, $(grep -E '^(ERROR|Usage)' "$work/out/messages")"
}
check "usage" "status 1, 0 bytes, Usage: $pstoravo job-id user title copies options [file]" \
  "$(outcome "$pstoravo" 1 user title 1)"
check "impossible combination" "status 1, 0 bytes, ERROR: PageSize=NC InputSlot=AUTO \
Resolution=360dpi ColorModel=RGB cannot be printed: the paper source does not take this paper size" \
  "$(PPD=$ppd outcome "$pstoravo" 1 user title 1 "PageSize=NC")"

check "lpinfo -m" "$ppd_name Marven Jetto 412_519, ravo" "$(lpinfo -m | grep "^$ppd_name " | sed 's/ [0-9.]*$//')"
device=$work/out/jetto
lpadmin -p jetto -E -v "file:$device" -m "$ppd_name"

# Prints FILE with OPTIONS and waits until the job has ended; says how.
print_job() { # FILE [OPTIONS...]
  file=$1
  shift
  : >"$device"
  job=$(lp -d jetto "$@" "$file" | sed -n 's/^request id is \([^ ]*\).*/\1/p')
  tries=0
  while lpstat -o jetto | grep -q "^$job "; do
    tries=$((tries + 1))
    [ "$tries" -lt 300 ] || { echo "timed out"; return; }
    sleep 0.2
  done
  if lpstat -W completed -o jetto | grep -q "^$job "; then png_header "$device"; else echo "failed"; fi
}

ps2pdf "$examples/testpage.ps" "$work/testpage.pdf"
printf 'Dear administrator,\nthis text is printed through CUPS.\n' >"$work/letter.txt"
while IFS='|' read -r label file expected options; do
  # shellcheck disable=SC2086 # the options are words
  check "$label" "$expected" "$(print_job "$file" $options)"
done <<CASES
defaults|$examples/testpage.ps|2976 x 4209, colour|
A6 grey at 180 dpi|$examples/testpage.ps|744 x 1049, grey|-o PageSize=A6 -o ColorModel=Gray -o Resolution=180dpi
NC from the roll|$examples/testpage.ps|1261 x 779, colour|-o InputSlot=ROLL -o PageSize=NC
IPP media and colour mode|$examples/testpage.ps|2098 x 2976, grey|-o media=iso_a5_148x210mm -o print-color-mode=monochrome
PDF job|$work/testpage.pdf|2976 x 4209, colour|
text job|$work/letter.txt|2976 x 4209, colour|
CASES

# Two pages, two copies: four images back to back.
printf '%%!PS\nshowpage\nshowpage\n' >"$work/two.ps"
print_job "$work/two.ps" -n 2 -o Resolution=180dpi >/dev/null
check "two pages, two copies" 4 "$(grep -ao IHDR "$device" | wc -l)"

# A refused job stays in the queue with its reason until it is cancelled.
job=$(lp -d jetto -o PageSize=NC "$examples/testpage.ps" | sed -n 's/^request id is \([^ ]*\).*/\1/p')
tries=0
until lpstat -l -o jetto | grep -q 'Status: .*cannot be printed' || [ "$tries" -ge 150 ]; do
  tries=$((tries + 1))
  sleep 0.2
done
check "refused job, queued" "$job" "$(lpstat -o jetto | awk '{ print $1 }')"
check "refused job, its status" "PageSize=NC InputSlot=AUTO Resolution=360dpi ColorModel=RGB \
cannot be printed: the paper source does not take this paper size" \
  "$(lpstat -l -o jetto | sed -n 's/^[[:space:]]*Status: //p')"
cancel "$job"
check "refused job, cancelled" "" "$(lpstat -o jetto)"

# A job that never ends, cancelled while gs runs it.
printf '%%!PS\n{ } loop\n' >"$work/endless.ps"
job=$(lp -d jetto "$work/endless.ps" | sed -n 's/^request id is \([^ ]*\).*/\1/p')
tries=0
until pgrep -x gs >/dev/null || [ "$tries" -ge 100 ]; do tries=$((tries + 1)); sleep 0.2; done
check "gs running before cancel" yes "$(pgrep -x gs >/dev/null && echo yes || echo no)"
cancel "$job"
tries=0
while pgrep -x gs >/dev/null && [ "$tries" -lt 50 ]; do tries=$((tries + 1)); sleep 0.1; done
check "gs processes after cancel" "" "$(pgrep -a -x gs || true)"

if [ "$failed" != 0 ]; then
  echo "server log:"
  grep -E 'E \[|pstoravo|\[Job' "$work/log/error_log" | tail -n 60
fi
finish
