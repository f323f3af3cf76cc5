#!/bin/sh
# Keeps the Printer Application's server serving: rounds of many jobs of every
# format from several clients at once, each job checked for its own output and
# the server answering throughout; requests that would overflow the IPP
# parser; no DNS-SD daemon; ports it cannot listen on; devices it cannot open;
# a restart after kill -9; printers added while it runs; unknown formats.
#
# Usage: app_server_test.sh APP PNG-INFO EXAMPLES-DIR [ROUNDS [NOTIFY-LISTEN]]
# The server runs as nobody in private mount, network and process namespaces,
# as in app_test.sh. ROUNDS (5 unless given) is how many load rounds run;
# NOTIFY-LISTEN, a stand-in for systemd's notify socket, checks the watchdog.
# Exits 77 (skipped) when the program is not built or the namespaces cannot
# be made, unless CI=true.
set -eu

usage="usage: app_server_test.sh APP PNG-INFO EXAMPLES-DIR [ROUNDS [NOTIFY-LISTEN]]"
app=${1:?$usage} png_info=${2:?$usage} examples=${3:?$usage} rounds=${4:-5}
notify_listen=${5:-}

unavailable() {
  echo "app server test: $*" >&2
  if [ "${CI:-}" = true ]; then exit 1; fi
  exit 77
}

if [ "${RAVO_APP_INSIDE:-}" != 1 ]; then
  [ -x "$app" ] || unavailable "$app is not built"
  for program in gs ps2pdf ipptool curl setpriv unshare timeout; do
    command -v "$program" >/dev/null 2>&1 || unavailable "$program is not installed"
  done
  [ "$(id -u)" = 0 ] || unavailable "needs root to make the namespaces and become nobody"
  unshare --mount --net --pid --fork --mount-proc --propagation private true 2>/dev/null ||
    unavailable "cannot make private namespaces"
  work=$(mktemp -d "${TMPDIR:-/tmp}/ravo-server-XXXXXX")
  trap 'rm -rf "$work"' EXIT
  RAVO_APP_INSIDE=1 RAVO_APP_WORK=$work unshare --mount --net --pid --fork --mount-proc \
    --propagation private sh "$0" "$(realpath "$app")" "$(realpath "$png_info")" \
    "$(realpath "$examples")" "$rounds" "${notify_listen:+$(realpath "$notify_listen")}"
  exit $?
fi

# From here on, inside the namespaces.
work=$RAVO_APP_WORK
PATH=/usr/sbin:/usr/bin:/sbin:/bin
export PATH
ip link set lo up
mount -t tmpfs -o mode=0755 tmpfs "$work"
mount -t tmpfs -o mode=0755 tmpfs /run  # no way to the machine's bus or mDNS daemon
mkdir "$work/bin" "$work/in" "$work/jobs"
for dir in home tmp spool log out; do install -d -o 65534 -g 65534 "$work/$dir"; done
ln -s "$(command -v gs)" "$work/bin/gs"
as_nobody() {
  setpriv --reuid=65534 --regid=65534 --clear-groups env -i HOME="$work/home" \
    TMPDIR="$work/tmp" PATH="$work/bin" ASAN_OPTIONS="${ASAN_OPTIONS:-}" \
    UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" "$@"
}
uri=ipp://localhost:8000/ipp/print/jetto
server_up() { curl -s -o /dev/null --max-time "${1:-1}" http://localhost:8000/; }
running() { ps -o stat= -p "$1" | grep -q '^[^Z]'; }
start_server() {
  as_nobody "$app" server -o server-port=8000 -o listen-hostname=localhost \
    -o log-level=debug -o log-file="$work/log/server.log" \
    -o spool-directory="$work/spool" 2>>"$work/log/stderr" &
  server=$!
  tries=0
  until server_up; do
    tries=$((tries + 1))
    if [ "$tries" -ge 100 ] || ! running "$server"; then
      echo "the server did not start:" >&2
      tail -n 20 "$work/log/server.log" >&2
      tail -n 5 "$work/log/stderr" >&2
      exit 1
    fi
    sleep 0.1
  done
}
# Ends the server and waits until it is gone.
stop_server() {
  pkill -P "$server" 2>/dev/null || kill "$server" 2>/dev/null || true
  tries=0
  while running "$server" && [ "$tries" -lt 300 ]; do  # a connection wakes its loop
    tries=$((tries + 1))
    server_up || true
    sleep 0.1
  done
  wait "$server" 2>/dev/null || true
}

. "$(dirname "$0")/check.sh"

start_server
as_nobody "$app" add -d jetto -v "file://$work/out?ext=png" -m marven_jetto_412_519 \
  >/dev/null 2>>"$work/log/commands" || true
sleep 1  # printer-up-time is 0 in the first second

# One IPP request to the printer: the test file's body on standard input,
# ipptool's options as arguments. A request that gets no answer within a
# minute is given up.
request() {
  test=$(mktemp "$work/jobs/XXXXXX")
  { printf '%s\n' '{' 'GROUP operation-attributes-tag' 'ATTR charset attributes-charset utf-8' \
      'ATTR naturalLanguage attributes-natural-language en' 'ATTR uri printer-uri $uri'
    cat
    echo '}'; } >"$test"
  timeout 60 ipptool -T 30 -t "$@" "${target:-$uri}" "$test" 2>&1 || true
}

# Prints FILE as job NAME (copies=N and format=TYPE may follow), waits until
# it has ended, and says how and what reached the printer: "completed: 1 x
# 744x1049 colour", "refused (client-error-...)". The job's last message is
# left in jobs/NAME.message.
job() { # NAME FILE [copies=N] [format=TYPE]
  name=$1 file=$2 copies=1
  shift 2
  case $file in
    *.pdf) format=application/pdf ;; *.ps) format=application/postscript ;;
    *.pwg) format=image/pwg-raster ;; *.urf) format=image/urf ;;
    *.jpg) format=image/jpeg ;; *.png) format=image/png ;; *) format=text/plain ;;
  esac
  for word; do
    case $word in copies=*) copies=${word#*=} ;; format=*) format=${word#*=} ;; esac
  done
  request -d name="$name" -f "$file" >"$work/jobs/$name.log" <<EOF
OPERATION Print-Job
DELAY "0,0.1"
ATTR name job-name \$name
ATTR mimeMediaType document-format $format
GROUP job-attributes-tag
ATTR integer copies $copies
ATTR keyword media iso_a6_105x148mm
ATTR resolution printer-resolution 180dpi
FILE \$filename
STATUS successful-ok
STATUS server-error-busy REPEAT-MATCH
EXPECT job-id
DISPLAY job-id
}
{
OPERATION Get-Job-Attributes
DELAY "0,0.05"
GROUP operation-attributes-tag
ATTR charset attributes-charset utf-8
ATTR naturalLanguage attributes-natural-language en
ATTR uri printer-uri \$uri
ATTR integer job-id \$job-id
STATUS successful-ok
EXPECT job-state WITH-VALUE >6 REPEAT-NO-MATCH REPEAT-LIMIT 2000
DISPLAY job-state
DISPLAY job-state-message
EOF
  sed -n 's/^ *job-state-message ([^)]*) = //p' "$work/jobs/$name.log" | tail -n 1 \
    >"$work/jobs/$name.message"
  state=$(sed -n 's/^ *job-state (enum) = //p' "$work/jobs/$name.log" | tail -n 1)
  if [ -z "$state" ]; then
    status=$(sed -n 's/.*status-code = \([a-z-]*\).*/\1/p' "$work/jobs/$name.log" | head -n 1)
    echo "refused (${status:-no answer})"
  else
    # The printer's file is named after the job's id.
    id=$(sed -n 's/^ *job-id (integer) = //p' "$work/jobs/$name.log" | head -n 1)
    echo "$state: $("$png_info" "$work/out/job-${id:-0}.png")"
  fi
}

# The job files, made with gs: a page at A6 and 180 dpi in each format.
in=$work/in
render() {
  gs -q -dSAFER -dBATCH -dNOPAUSE -dFIXEDMEDIA "$@" "$examples/testpage.ps" >/dev/null 2>&1
}
cp "$examples/testpage.ps" "$in/page.ps"
ps2pdf "$in/page.ps" "$in/page.pdf"
# The raster is 8-bit sRGB, which the printer takes, not gs's 1-bit default.
render -sDEVICE=pwgraster -dcupsColorSpace=19 -dcupsBitsPerColor=8 -r180 -g744x1049 \
  -sOutputFile="$in/page.pwg"
render -sDEVICE=urf -dcupsColorSpace=19 -dcupsBitsPerColor=8 -r180 -g744x1049 \
  -sOutputFile="$in/page.urf"
render -sDEVICE=jpeg -r40 -sOutputFile="$in/page.jpg"
render -sDEVICE=png16m -r40 -sOutputFile="$in/page.png"

# Load: in each round, CLIENTS clients at once each send JOBS jobs, the six
# formats in turn with copies 1 to 3, and every job must end completed with
# its own copies; between rounds the server must answer.
clients=${RAVO_LOAD_CLIENTS:-6} jobs=${RAVO_LOAD_JOBS:-4}
formats="pdf ps pwg urf jpg png"
round=1
while [ "$round" -le "$rounds" ]; do
  pids=""
  client=1
  while [ "$client" -le "$clients" ]; do
    (
      number=1
      while [ "$number" -le "$jobs" ]; do
        index=$(((client + number + round) % 6 + 1))
        extension=$(echo "$formats" | cut -d' ' -f"$index")
        copies=$(((client + number) % 3 + 1))
        name=r$round-c$client-j$number-$extension
        echo "$name $copies $(job "$name" "$in/page.$extension" copies=$copies)"
        number=$((number + 1))
      done
    ) >"$work/jobs/round$round-client$client.outcome" &
    pids="$pids $!"
    client=$((client + 1))
  done
  # shellcheck disable=SC2086
  wait $pids
  wrong=$(cat "$work/jobs/round$round-client"*.outcome |
    awk '$3 != "completed:" || $4 != $2 || $6 != "744x1049" { print $1 ": " $3, $4, $5, $6 }' |
    tr '\n' ';')
  count=$(cat "$work/jobs/round$round-client"*.outcome | wc -l)
  check "load round $round: $count jobs, each with its own output" "" "$wrong"
  answering=$(server_up 10 && echo yes || echo no)
  check "load round $round: the server answers" yes "$answering"
  if [ "$answering" != yes ]; then
    if [ -n "${RAVO_STACKS:-}" ] && command -v gdb >/dev/null; then
      gdb -p "$(pgrep -f -x "$app server.*" | head -n 1)" -batch -ex 'thread apply all bt' >"$RAVO_STACKS" 2>&1 || true
    fi
    break
  fi
  round=$((round + 1))
done

# Requests that nest collections deep, which libcups parses by recursion on
# the stack of the client's thread: the server must outlive each.
byte() { printf "\\$(printf %03o "$1")"; }
ipp_attr() { # TAG NAME VALUE
  byte "$1"; byte 0; byte ${#2}; printf %s "$2"; byte 0; byte ${#3}; printf %s "$3"
}
# Writes FILE COUNT times over, by doubling.
repeat() { # FILE COUNT
  cp "$1" "$work/twice"
  count=$2
  while [ "$count" -gt 0 ]; do
    [ $((count % 2)) = 0 ] || cat "$work/twice"
    cat "$work/twice" "$work/twice" >"$work/twice.next"
    mv "$work/twice.next" "$work/twice"
    count=$((count / 2))
  done
}
{ ipp_attr 74 "" media-size; ipp_attr 52 "" ""; } >"$work/level-open"
ipp_attr 55 "" "" >"$work/level-close"
nested_request() { # DEPTH
  byte 2; byte 0; byte 0; byte 2; byte 0; byte 0; byte 0; byte 1; byte 1
  ipp_attr 71 attributes-charset utf-8
  ipp_attr 72 attributes-natural-language en
  ipp_attr 69 printer-uri "$uri"
  byte 2
  ipp_attr 52 media-col ""
  repeat "$work/level-open" "$1"
  repeat "$work/level-close" $(($1 + 1))
  byte 3
}
while read -r depth; do
  nested_request "$depth" >"$work/nested"
  curl -s -o /dev/null --max-time 30 -H 'Content-Type: application/ipp' \
    --data-binary @"$work/nested" http://localhost:8000/ipp/print/jetto || true
  check "media-col nested $depth deep ($(wc -c <"$work/nested") bytes): server running" yes \
    "$(running "$server" && server_up 10 && echo yes || echo no)"
  running "$server" || start_server
done <<CASES
100
8000
50000
CASES

# No DNS-SD daemon runs in here: listing devices says so and lists the rest,
# in the sub-command and on the server's page for adding a printer.
status=0
as_nobody "$app" devices >"$work/devices.out" 2>"$work/devices.err" || status=$?
check "devices without DNS-SD: exit status, what it says" "0, 1" \
  "$status, $(cat "$work/devices.out" "$work/devices.err" | grep -c 'DNS-SD is unavailable' || true)"
curl -s -o /dev/null --max-time 60 http://localhost:8000/addprinter || true
check "the page for adding a printer without DNS-SD: server running" yes \
  "$(running "$server" && server_up 10 && echo yes || echo no)"
running "$server" || start_server

# A server that cannot listen on its port exits at once and says so.
while IFS='|' read -r label port; do
  status=0
  as_nobody "$(command -v timeout)" 20 "$app" server -o server-port="$port" -o listen-hostname=localhost \
    -o log-file="$work/log/second.log" -o spool-directory="$work/spool" \
    >/dev/null 2>"$work/second.err" || status=$?
  said=$(grep -c "port $port" "$work/second.err" || true)
  check "$label: exit status, message naming the port" "failed, 1" \
    "$([ "$status" != 0 ] && [ "$status" != 124 ] && echo failed || echo "status $status"), $said"
done <<CASES
a port in use|8000
a port for root only|80
CASES

# Clients that connect while the server ends, as status polls and web pages
# do: it ends without reading what it has already freed, which
# AddressSanitizer reports. Which client comes last is chance: three rounds.
reported() { grep -c 'ERROR: AddressSanitizer' "$work/log/stderr" || true; }
before=$(reported)
for round in 1 2 3; do
  as_nobody "$app" shutdown >/dev/null 2>>"$work/log/commands" || true
  tries=0
  while running "$server" && [ "$tries" -lt 300 ]; do
    tries=$((tries + 1))
    for poll in 1 2 3 4; do server_up & done
    sleep 0.05
  done
  wait "$server" 2>/dev/null || true
  start_server
done
check "clients connecting while the server ends: errors reported" 0 "$(($(reported) - before))"
sleep 1

# A job killed with the server: after the restart it prints from the start,
# without a new job to set it off. gs is slowed so that the kill finds it
# before it has written anything, and the kill waits until the state file,
# in the user's own config folder, holds the job as printing (PAPPL saves
# its state when the configuration changes, here the printer's location).
printf '#!/bin/sh\n%s 60\nexec %s "$@"\n' "$(command -v sleep)" "$(command -v gs)" >"$work/slow-gs"
chmod 755 "$work/slow-gs"
rm -f "$work/bin/gs"
ln -s "$work/slow-gs" "$work/bin/gs"
job interrupted "$in/page.ps" >/dev/null &
client=$!
tries=0
until pgrep -f slow-gs >/dev/null || [ "$tries" -ge 100 ]; do tries=$((tries + 1)); sleep 0.1; done
as_nobody "$app" modify -d jetto -o printer-location=Here >/dev/null 2>>"$work/log/commands" || true
state_file=$work/home/.config/ravo-printer-app.state
saved_printing() { grep -q '^Job .* state="5"' "$state_file" 2>/dev/null; }
tries=0
until saved_printing || [ "$tries" -ge 100 ]; do tries=$((tries + 1)); sleep 0.1; done
check "the state file holds the job as printing before the kill" yes \
  "$(saved_printing && echo yes || echo no)"
pkill -KILL -P "$server" || true
pkill -KILL -f slow-gs || true
wait "$client" || true
interrupted=$work/out/job-$(sed -n 's/^ *job-id (integer) = //p' "$work/jobs/interrupted.log" |
  head -n 1).png
rm -f "$work/bin/gs"
ln -s "$(command -v gs)" "$work/bin/gs"
start_server
printed="1 x 744x1049 colour"
tries=0
while [ "$("$png_info" "$interrupted")" != "$printed" ] && [ "$tries" -lt 60 ]; do
  tries=$((tries + 1))
  sleep 1
done
check "a job killed with the server prints after a restart, with no new job" "$printed" \
  "$("$png_info" "$interrupted")"

# Under systemd: READY=1 once the server answers, then WATCHDOG=1 while it
# goes on answering.
if [ -n "$notify_listen" ]; then
  stop_server
  install -d -o 65534 -g 65534 "$work/notify"
  as_nobody "$notify_listen" "$work/notify/socket" 3 20 >"$work/notify/got" &
  listener=$!
  tries=0
  while [ ! -S "$work/notify/socket" ] && [ "$tries" -lt 50 ]; do tries=$((tries + 1)); sleep 0.1; done
  as_nobody "$(command -v env)" NOTIFY_SOCKET="$work/notify/socket" WATCHDOG_USEC=2000000 "$app" server \
    -o server-port=8000 -o listen-hostname=localhost -o log-file="$work/log/server.log" \
    -o spool-directory="$work/spool" 2>>"$work/log/stderr" &
  server=$!
  wait "$listener" || true
  check "systemd told: ready, then the watchdog pinged" "READY=1 WATCHDOG=1 WATCHDOG=1" \
    "$(tr '\n' ' ' <"$work/notify/got" | sed 's/ $//')"
fi

[ "$failed" = 0 ] || { grep -E '^[EW] |Job [0-9]+\]' "$work/log/server.log" | tail -n 40
  tail -n 40 "$work/log/stderr"; }
finish
