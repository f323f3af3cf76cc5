#!/bin/sh
# Hostile documents and requests through the Printer Application's real
# server: bytes that are not what their format says, truncated images and
# raster, raster the printer does not take, sizes that wrap or would take the
# server's memory, and sizes, sources, colour modes and resolutions the
# printer lacks. Each is aborted or refused with a reason, nothing reaches the
# printer, the next job prints, and the server stays up.
#
# Usage: app_inputs_test.sh APP PNG-INFO EXAMPLES-DIR
# The server runs as in app_test.sh: as nobody, in private mount, network and
# process namespaces. Exits 77 (skipped) when the program is not built or the
# namespaces cannot be made, unless CI=true.
set -eu

usage="usage: app_inputs_test.sh APP PNG-INFO EXAMPLES-DIR"
app=${1:?$usage} png_info=${2:?$usage} examples=${3:?$usage}

unavailable() {
  echo "app inputs test: $*" >&2
  if [ "${CI:-}" = true ]; then exit 1; fi
  exit 77
}

if [ "${RAVO_APP_INSIDE:-}" != 1 ]; then
  [ -x "$app" ] || unavailable "$app is not built"
  for program in gs ps2pdf ipptool curl setpriv unshare; do
    command -v "$program" >/dev/null 2>&1 || unavailable "$program is not installed"
  done
  [ "$(id -u)" = 0 ] || unavailable "needs root to make the namespaces and become nobody"
  unshare --mount --net --pid --fork --mount-proc --propagation private true 2>/dev/null ||
    unavailable "cannot make private namespaces"
  work=$(mktemp -d "${TMPDIR:-/tmp}/ravo-inputs-XXXXXX")
  trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
  RAVO_APP_INSIDE=1 RAVO_APP_WORK=$work unshare --mount --net --pid --fork --mount-proc \
    --propagation private sh "$0" "$(realpath "$app")" "$(realpath "$png_info")" \
    "$(realpath "$examples")"
  exit $?
fi

# From here on, inside the namespaces.
work=$RAVO_APP_WORK
PATH=/usr/sbin:/usr/bin:/sbin:/bin
export PATH
ip link set lo up
mount -t tmpfs -o mode=0755 tmpfs "$work"
mount -t tmpfs -o mode=0755 tmpfs /run
mkdir "$work/bin" "$work/in" "$work/jobs"
for dir in home tmp spool log out; do install -d -o 65534 -g 65534 "$work/$dir"; done
ln -s "$(command -v gs)" "$work/bin/gs"
as_nobody() {
  setpriv --reuid=65534 --regid=65534 --clear-groups env -i HOME="$work/home" \
    TMPDIR="$work/tmp" PATH="$work/bin" ASAN_OPTIONS="${ASAN_OPTIONS:-}" \
    UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" "$@"
}
uri=ipp://localhost:8000/ipp/print/jetto
server_up() { curl -s -o /dev/null --max-time 1 http://localhost:8000/; }
running() { ps -o stat= -p "$1" | grep -q '^[^Z]'; }
as_nobody "$app" server -o server-port=8000 -o listen-hostname=localhost -o log-level=debug \
  -o log-file="$work/log/server.log" -o spool-directory="$work/spool" 2>>"$work/log/stderr" &
server=$!
tries=0
until server_up; do
  tries=$((tries + 1))
  if [ "$tries" -ge 100 ] || ! running "$server"; then
    echo "the server did not start:" >&2
    tail -n 20 "$work/log/server.log" >&2
    exit 1
  fi
  sleep 0.1
done
as_nobody "$app" add -d jetto -v "file://$work/out?ext=png" -m marven_jetto_412_519 \
  2>>"$work/log/commands" || true
sleep 1  # printer-up-time is 0 in the first second

. "$(dirname "$0")/check.sh"

# Prints FILE as FORMAT, job NAME, with ATTRIBUTES (ipptool lines, each
# ended by ";"), waits until it has ended and says how and what reached the
# printer: "completed: 1 x 744x1049 colour", "aborted: nothing", "refused
# (client-error-...)". The job's message is left in jobs/NAME.message.
job() { # NAME FILE FORMAT [ATTRIBUTES]
  test=$work/jobs/$1.test
  cat >"$test" <<EOF
{
OPERATION Print-Job
DELAY "0,0.1"
GROUP operation-attributes-tag
ATTR charset attributes-charset utf-8
ATTR naturalLanguage attributes-natural-language en
ATTR uri printer-uri \$uri
ATTR name requesting-user-name nobody
ATTR name job-name $1
ATTR mimeMediaType document-format $3
GROUP job-attributes-tag
$(echo "${4:-}" | tr ';' '\n')
FILE $2
STATUS successful-ok
STATUS successful-ok-ignored-or-substituted-attributes
STATUS server-error-busy REPEAT-MATCH
EXPECT job-id
DISPLAY job-id
}
{
OPERATION Get-Job-Attributes
DELAY "0,0.02"
GROUP operation-attributes-tag
ATTR charset attributes-charset utf-8
ATTR naturalLanguage attributes-natural-language en
ATTR uri printer-uri \$uri
ATTR integer job-id \$job-id
STATUS successful-ok
EXPECT job-state WITH-VALUE >6 REPEAT-NO-MATCH REPEAT-LIMIT 3000
DISPLAY job-state
DISPLAY job-state-message
DISPLAY job-state-reasons
}
EOF
  ipptool -t "$uri" "$test" >"$work/jobs/$1.log" 2>&1 || true
  sed -n 's/^ *job-state-message ([^)]*) = //p' "$work/jobs/$1.log" | tail -n 1 \
    >"$work/jobs/$1.message"
  state=$(sed -n 's/^ *job-state (enum) = //p' "$work/jobs/$1.log" | tail -n 1)
  id=$(sed -n 's/^ *job-id (integer) = //p' "$work/jobs/$1.log" | head -n 1)
  if [ -z "$state" ] && grep -q 'RECEIVED: 0 bytes' "$work/jobs/$1.log"; then
    # PAPPL ended a streamed job without answering: look the job up by name.
    by_name "$1" >"$work/jobs/$1.found"
    state=$(sed -n 's/^state=//p' "$work/jobs/$1.found")
    id=$(sed -n 's/^id=//p' "$work/jobs/$1.found")
    sed -n 's/^message=//p' "$work/jobs/$1.found" >"$work/jobs/$1.message"
  fi
  if [ -z "$state" ]; then
    echo "refused ($(sed -n 's/.*status-code = \([a-z-]*\).*/\1/p' "$work/jobs/$1.log" |
      head -n 1))"
  else
    # The printer's file is named after the job's id.
    echo "$state: $("$png_info" "$work/out/job-${id:-0}.png")"
  fi
}

# The state and message of the job named NAME, once it has ended, as
# "state=..." and "message=..." lines.
by_name() { # NAME
  tries=0
  while [ "$tries" -lt 100 ]; do
    ipptool -t "$uri" /dev/stdin >"$work/jobs/$1.jobs" 2>&1 <<EOF || true
{
OPERATION Get-Jobs
GROUP operation-attributes-tag
ATTR charset attributes-charset utf-8
ATTR naturalLanguage attributes-natural-language en
ATTR uri printer-uri \$uri
ATTR keyword which-jobs all
ATTR keyword requested-attributes job-id,job-name,job-state,job-state-message
DISPLAY job-id
DISPLAY job-name
DISPLAY job-state
DISPLAY job-state-message
}
EOF
    found=$(awk -v name="$1" '/job-id \(/ { id = $NF } /job-name \(/ { mine = ($NF == name); if (mine) print "id=" id }
      mine && /job-state \(enum\)/ { print "state=" $NF }
      mine && /job-state-message/ { sub(/^ *job-state-message \([^)]*\) = /, ""); print "message=" $0 }' \
      "$work/jobs/$1.jobs")
    case $found in *state=aborted* | *state=completed* | *state=canceled*)
      echo "$found"; return ;; esac
    tries=$((tries + 1))
    sleep 0.2
  done
}

# Sets the big-endian 32-bit number at byte OFFSET of FILE.
put32() { # FILE OFFSET VALUE
  printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $(($3 >> 24 & 255)) $(($3 >> 16 & 255)) \
    $(($3 >> 8 & 255)) $(($3 & 255)))" | dd of="$1" bs=1 seek="$2" conv=notrunc 2>/dev/null
}
# A PWG raster header's fields, as offsets in the file.
PWG_WIDTH=376 PWG_HEIGHT=380 PWG_BYTES_PER_LINE=396

in=$work/in
render() {
  gs -q -dSAFER -dBATCH -dNOPAUSE -dFIXEDMEDIA "$@" "$examples/testpage.ps" >/dev/null 2>&1
}
cp "$examples/testpage.ps" "$in/page.ps"
ps2pdf "$in/page.ps" "$in/page.pdf"
render -sDEVICE=jpeg -r40 -sOutputFile="$in/page.jpg"
render -sDEVICE=png16m -r40 -sOutputFile="$in/page.png"
render -sDEVICE=pwgraster -dcupsColorSpace=18 -dcupsBitsPerColor=8 -r180 -g744x1049 \
  -sOutputFile="$in/grey.pwg"
render -sDEVICE=pwgraster -r180 -g744x1049 -sOutputFile="$in/one-bit.pwg"
render -sDEVICE=urf -r180 -g744x1049 -sOutputFile="$in/one-bit.urf"
for file in page.jpg page.png grey.pwg; do
  size=$(wc -c <"$in/$file")
  head -c $((size * 2 / 3)) "$in/$file" >"$in/truncated-$file"
done
# Sixteen 8-bit pixels a line, declared as 2^29 + 16: 8 bits each wrap 32 bits.
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pwgraster -dcupsColorSpace=18 -dcupsBitsPerColor=8 \
  -r72 -g16x16 -sOutputFile="$in/wrap.pwg" -c showpage
put32 "$in/wrap.pwg" $PWG_WIDTH $(((1 << 29) + 16))
# A portrait page of 10000 x 50000 pixels turned onto a landscape size.
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pwgraster -dcupsColorSpace=18 -dcupsBitsPerColor=8 \
  -r72 -g10000x50000 -sOutputFile="$in/turn.pwg" -c showpage
# A 16000 x 16000 grey JPEG.
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpeggray -r72 -g16000x16000 -sOutputFile="$in/huge.jpg" \
  -c showpage

a6="ATTR keyword media iso_a6_105x148mm;ATTR resolution printer-resolution 180dpi;"
grey="ATTR keyword print-color-mode monochrome;"
col() { # WIDTH LENGTH [SOURCE]: a media-col of that size, with margins
  echo "ATTR collection media-col { MEMBER collection media-size { MEMBER integer x-dimension $1" \
    "MEMBER integer y-dimension $2 } ${3:+MEMBER keyword media-source $3 }}"
}
card="$(col 5500 8900 main-roll);ATTR resolution printer-resolution 180dpi;"

# PAPPL 1.3.1 reads a streamed raster's first header before any of the app's
# callbacks, and aborts the job at once, with no reason, when it cannot. A
# size, source, colour mode, resolution or format the printer lacks is
# refused when the job is submitted.
unsupported="refused (client-error-attributes-or-values-not-supported)"
n=0
while IFS='|' read -r label file format expected attributes; do
  n=$((n + 1))
  name=case-$n
  case $label in "${ONLY:-}"*) ;; *) continue ;; esac
  outcome=$(job "$name" "$in/$file" "$format" "$attributes")
  message=$(cat "$work/jobs/$name.message")
  case $outcome in
    aborted:* | canceled:*)
      case $message in "" | "Job aborted." | "Job canceled.") outcome="$outcome, no reason" ;; esac
      ;;
  esac
  case $expected:$outcome in
    refused:"refused (client-error-"*) outcome=refused ;;
    refused:"aborted: nothing") outcome=refused ;;
  esac
  check "$label${message:+ ($message)}" "$expected" "$outcome"
  # What the server logged of the refusal, before later jobs rotate the log.
  cat "$work/log/server.log.O" "$work/log/server.log" 2>/dev/null |
    sed -n 's/.*Refused: //p' >"$work/jobs/$name.refusal"
  [ "$outcome" = "$expected" ] || tail -n 30 "$work/jobs/$name.log" >>"$work/log/failures"
  check "$label, then" "completed: 1 x 744x1049 colour" \
    "$(job "$name-then" "$in/page.ps" application/postscript "$a6")"
done <<CASES
PDF bytes as PNG|page.pdf|image/png|aborted: nothing|$a6
PDF bytes as JPEG|page.pdf|image/jpeg|aborted: nothing|$a6
PDF bytes as PWG raster|page.pdf|image/pwg-raster|aborted: nothing, no reason|$a6
PDF bytes as Apple raster|page.pdf|image/urf|aborted: nothing, no reason|$a6
truncated JPEG|truncated-page.jpg|image/jpeg|aborted: nothing|$a6
truncated PNG|truncated-page.png|image/png|aborted: nothing|$a6
truncated PWG raster|truncated-grey.pwg|image/pwg-raster|aborted: nothing|$a6
1-bit PWG raster|one-bit.pwg|image/pwg-raster|aborted: nothing|$a6
1-bit Apple raster|one-bit.urf|image/urf|aborted: nothing|$a6
a line width that wraps 32 bits|wrap.pwg|image/pwg-raster|aborted: nothing|$a6
a source the printer lacks|page.ps|application/postscript|$unsupported|$(col 10500 14800 tray-9);
A0 by name|page.pdf|application/pdf|$unsupported|ATTR keyword media iso_a0_841x1189mm;
A0 by its dimensions|page.pdf|application/pdf|$unsupported|$(col 84100 118900);
a colour mode the printer lacks|page.pdf|application/pdf|$unsupported|$a6;ATTR keyword print-color-mode process-monochrome;
a resolution the printer lacks|page.pdf|application/pdf|$unsupported|ATTR resolution printer-resolution 600dpi;
plain text|page.ps|text/plain|$unsupported|$a6
a format nobody knows|page.pdf|application/x-foo|$unsupported|$a6
a tall page turned onto a name card|turn.pwg|image/pwg-raster|completed: 1 x 630x389 grey|$card$grey
a 16000 x 16000 JPEG|huge.jpg|image/jpeg|completed: 1 x 744x1049 grey|$a6$grey
grey raster, A6|grey.pwg|image/pwg-raster|completed: 1 x 744x1049 grey|$a6$grey
JPEG, A6|page.jpg|image/jpeg|completed: 1 x 744x1049 colour|$a6
PNG, A6|page.png|image/png|completed: 1 x 744x1049 colour|$a6
CASES
check "the reason for refusing plain text, in the log" \
  "The printer does not take text/plain documents; it takes image/pwg-raster, image/urf, \
application/pdf, application/postscript, image/jpeg, image/png." \
  "$(grep -h '^The printer does not take text/plain' "$work"/jobs/*.refusal | head -n 1)"
# Every borderless entry of media-col-database, sent back as offered, prints.
ipptool -t "$uri" /dev/stdin <<EOF 2>&1 | sed -n 's/^ *media-col-database ([^)]*) = //p' |
{
OPERATION Get-Printer-Attributes
GROUP operation-attributes-tag
ATTR charset attributes-charset utf-8
ATTR naturalLanguage attributes-natural-language en
ATTR uri printer-uri \$uri
ATTR keyword requested-attributes media-col-database
DISPLAY media-col-database
}
EOF
  sed 's/},{/}\n{/g' >"$work/database"
unprintable=""
entries=0
while read -r entry; do
  case $entry in *margin=[1-9]*) continue ;; esac
  entries=$((entries + 1))
  # {media-size={x-dimension=A y-dimension=B} media-top-margin=0 ...} as
  # ipptool members.
  members=$(echo "$entry" | sed 's/^{//; s/}$//' | sed 's/media-size={\([^}]*\)}/media-size=<\1>/' |
    tr ' ' '\n' | awk -F= '
      /^media-size=/ { sub(/^media-size=</, ""); printf "MEMBER collection media-size { MEMBER integer %s ", $0; next }
      />$/ { sub(/>$/, ""); printf "MEMBER integer %s } ", $0; next }
      /^x-dimension=|^y-dimension=/ { printf "MEMBER integer %s ", $0; next }
      $2 ~ /^-?[0-9]+$/ { printf "MEMBER integer %s %s ", $1, $2; next }
      { printf "MEMBER keyword %s %s ", $1, $2 }' | sed 's/\(dimension\)=/\1 /g')
  outcome=$(job "entry-$entries" "$in/page.ps" application/postscript \
    "ATTR collection media-col { $members};ATTR resolution printer-resolution 180dpi;")
  case $outcome in completed:*) ;; *) unprintable="$unprintable $entry ($outcome: $(cat \
    "$work/jobs/entry-$entries.message"));" ;; esac
done <"$work/database"
check "borderless entries of media-col-database ($entries) that do not print" "" "$unprintable"
# PAPPL 1.3.1 adds "auto" after the driver's sources, itself among them.
check "media-source-supported, the distinct sources" "auto,main-roll" "$(ipptool -t "$uri" /dev/stdin <<EOF 2>&1 |
{
OPERATION Get-Printer-Attributes
GROUP operation-attributes-tag
ATTR charset attributes-charset utf-8
ATTR naturalLanguage attributes-natural-language en
ATTR uri printer-uri \$uri
ATTR keyword requested-attributes media-source-supported
DISPLAY media-source-supported
}
EOF
  sed -n 's/^ *media-source-supported ([^)]*) = //p' | tr , '\n' | sort -u | paste -s -d , -)"

check "server running after the inputs" yes "$(running "$server" && echo yes || echo no)"
# The server is the only such process in these namespaces.
for pid in $(pgrep -x ravo-printer-ap); do
  echo "the server's peak memory: $(sed -n 's/^VmHWM:[[:space:]]*//p' "/proc/$pid/status")"
done

[ "$failed" = 0 ] || { grep -E '^[EW] ' "$work/log/server.log" | tail -n 40
  tail -n 40 "$work/log/stderr"; cat "$work/log/failures"; }
finish
