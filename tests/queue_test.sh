#!/bin/sh
# Prints through a real lpd queue whose input filter is the built ravofilter:
# a PostScript job must reach the printer as a PNG of the configured size and
# colour mode, a text job unchanged, and a broken job must run the filter once
# and leave the queue.
#
# Usage: queue_test.sh RAVOFILTER EXAMPLES-DIR LPR-ROOT
#
# LPR-ROOT holds Debian's lpr package unpacked (scripts/install-deps --tests
# makes it); its lpd, lpr and lpq are used, never the machine's.
#
# Everything happens in private mount, network and process namespaces: /etc,
# /dev, /run, /var/spool and the filter's directory are private, only
# loopback exists, and every process ends with the test. The printcap is
# examples/printcap as it stands; its printer device is a file in the private
# /dev. Exits 77 (skipped) when the namespaces cannot be made, unless CI=true.
set -eu

usage="usage: queue_test.sh RAVOFILTER EXAMPLES-DIR LPR-ROOT"
filter=${1:?$usage}
examples=${2:?$usage}
lpr_root=${3:?$usage}

unavailable() {
  echo "queue test: $*" >&2
  if [ "${CI:-}" = true ]; then exit 1; fi
  exit 77
}

if [ "${RAVO_QUEUE_INSIDE:-}" != 1 ]; then
  for program in sbin/lpd bin/lpr bin/lpq; do
    [ -x "$lpr_root/usr/$program" ] ||
      unavailable "no $lpr_root/usr/$program: run scripts/install-deps --tests"
  done
  command -v unshare >/dev/null 2>&1 || unavailable "unshare is not installed"
  [ "$(id -u)" = 0 ] || unavailable "lpd needs root inside the namespaces"
  work=$(mktemp -d "${TMPDIR:-/tmp}/ravo-queue-XXXXXX")
  trap 'rm -rf "$work"' EXIT
  unshare --mount --net --pid --fork --mount-proc --propagation private true 2>/dev/null ||
    unavailable "cannot make private namespaces"
  RAVO_QUEUE_INSIDE=1 RAVO_QUEUE_WORK=$work unshare --mount --net --pid --fork \
    --mount-proc --propagation private sh "$0" "$(realpath "$filter")" "$(realpath "$examples")" \
    "$(realpath "$lpr_root")"
  exit $?
fi

# From here on, inside the namespaces.
work=$RAVO_QUEUE_WORK
PATH=$lpr_root/usr/sbin:$lpr_root/usr/bin:/usr/sbin:/usr/bin:/sbin:/bin
export PATH
ip link set lo up 2>/dev/null || true

# Private /etc and filter directory: writable overlays of the host's.
mount -t tmpfs -o mode=0755 tmpfs "$work"
overlay() { # DIR NAME
  mkdir -p "$work/$2/upper" "$work/$2/work"
  mount -t overlay overlay -o "lowerdir=$1,upperdir=$work/$2/upper,workdir=$work/$2/work" "$1"
}
overlay /etc etc
overlay /usr/libexec libexec

# Private /dev with the few devices lpd and the shell use, and the printer.
mount -t tmpfs -o mode=0755 tmpfs /dev
mknod -m 666 /dev/null c 1 3
mknod -m 666 /dev/zero c 1 5
mknod -m 666 /dev/full c 1 7
mknod -m 666 /dev/urandom c 1 9
mknod -m 666 /dev/tty c 5 0
ln -s /proc/self/fd /dev/fd
mkdir -m 0755 /dev/usb
mount -t tmpfs -o mode=0755 tmpfs /run
mount -t tmpfs -o mode=0755 tmpfs /var/spool
install -d -g lp -m 0775 /var/spool/lpd

# The queue, exactly as examples/printcap gives it.
cp "$examples/printcap" /etc/printcap
device=$(sed -n 's/.*:lp=\([^:]*\):.*/\1/p' /etc/printcap)
spool=$(sed -n 's/.*:sd=\([^:]*\):.*/\1/p' /etc/printcap)
log=$(sed -n 's/.*:lf=\([^:]*\):.*/\1/p' /etc/printcap)
installed=$(sed -n 's/.*:if=\([^:]*\):.*/\1/p' /etc/printcap)
queue=$(sed -n 's/^\([^|#:]*\)|.*/\1/p' /etc/printcap)
mkdir -p "$(dirname "$installed")"
cp "$filter" "$installed"
install -d -o lp -g lp -m 2775 "$spool"
: >"$device"
chmod 666 "$device"
install -o lp -g lp -m 664 /dev/null "$log"
rm -f /etc/hosts.lpd /etc/ravorc

lpd -s
# Waits until the queue is empty and the printer device holds something.
wait_for_job() {
  tries=0
  while [ "$tries" -lt 300 ]; do
    if [ -s "$device" ] && lpq -P "$queue" 2>/dev/null | grep -q 'no entries'; then
      return 0
    fi
    tries=$((tries + 1))
    sleep 0.2
  done
  echo "the job did not come out; queue and log:" >&2
  lpq -P "$queue" >&2 || true
  cat "$log" >&2 || true
  return 1
}
png_header() { od -An -tu1 -j16 -N10 "$1" | awk '{ printf "%d x %d, depth %d, colour type %d", $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8, $9, $10 }'; }

. "$(dirname "$0")/check.sh"

# A PostScript job with settings for monochrome A6 at 180 dpi.
printf '[Marven Jetto 412_519]\nink=MONO\nresolution=180\nmediasize=A6\n' >/etc/ravorc
chmod 644 /etc/ravorc
lpr -P "$queue" "$examples/testpage.ps"
wait_for_job
check "PostScript job" "744 x 1049, depth 8, colour type 0" "$(png_header "$device")"
check "PNG signature" "89 50 4e 47" "$(od -An -tx1 -N4 "$device" | tr -s ' ' | sed 's/^ //')"

# Two pages, two copies: four images back to back.
: >"$device"
printf '%%!PS\nshowpage\nshowpage\n' >"$work/two.ps"
lpr -P "$queue" -#2 "$work/two.ps"
wait_for_job
check "two pages, two copies" 4 "$(grep -ao IHDR "$device" | wc -l)"

# A text job passes through unchanged.
: >"$device"
text="$work/letter.txt"
printf 'Dear administrator,\n\tthis text is printed as it is.\n' >"$text"
lpr -P "$queue" "$text"
wait_for_job
if cmp -s "$text" "$device"; then same=unchanged; else same=changed; fi
check "text job" unchanged "$same"
check "filter log" "" "$(cat "$log")"

# A job that breaks after its first page runs the filter once, and is removed:
# its first page is not printed again.
: >"$device"
printf '%%!PS\nshowpage\nundefinedthing\n' >"$work/broken.ps"
lpr -P "$queue" "$work/broken.ps"
wait_for_job
check "broken job: pages" 1 "$(grep -a -c IEND "$device")"
check "broken job: runs" 1 "$(grep -c 'rasterising : gs exited with status 1' "$log")"

finish
