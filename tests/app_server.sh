# The Printer Application's real server, for the tests and the benchmark:
# sourced by a script run as SCRIPT APP PNG-INFO EXAMPLES-DIR [MORE...] that
# has set `usage` and `log_level`. The script is run again as root inside
# private mount, network and process namespaces where only loopback exists,
# and the server then runs there as nobody with a private home and temporary
# folder: the machine's own services, state and ports are never touched. It
# exits 77 (skipped) when the program is not built or the namespaces cannot
# be made, unless CI=true. Once sourced, the server is up with the printer
# "jetto" on a file device in $work/out, and `job` and `submit` print.

app=${1:?$usage} png_info=${2:?$usage} examples=${3:?$usage}
shift 3

unavailable() {
  echo "${0##*/}: $*" >&2
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
  work=$(mktemp -d "${TMPDIR:-/tmp}/ravo-app-XXXXXX")
  trap 'rm -rf "$work"' EXIT
  RAVO_APP_INSIDE=1 RAVO_APP_WORK=$work unshare --mount --net --pid --fork --mount-proc \
    --propagation private sh "$0" "$(realpath "$app")" "$(realpath "$png_info")" \
    "$(realpath "$examples")" "$@"
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
ln -s "$(command -v gs)" "$work/bin/gs"  # the server finds gs here, and only here
as_nobody() {
  setpriv --reuid=65534 --regid=65534 --clear-groups env -i HOME="$work/home" \
    TMPDIR="$work/tmp" PATH="$work/bin" ASAN_OPTIONS="${ASAN_OPTIONS:-}" \
    UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" "$@"
}
uri=ipp://localhost:8000/ipp/print/jetto
server_up() { curl -s -o /dev/null --max-time 1 http://localhost:8000/; }
running() { ps -o stat= -p "$1" | grep -q '^[^Z]'; }
start_server() { # [OPTIONS...]
  as_nobody "$app" server -o server-port=8000 -o listen-hostname=localhost \
    -o log-level="$log_level" -o log-file="$work/log/server.log" \
    -o spool-directory="$work/spool" "$@" 2>>"$work/log/stderr" &
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
start_server
# The exit statuses of the program's sub-commands go unchecked, since under
# LeakSanitizer they fail on what libcups leaks; what they did is checked.
as_nobody "$app" add -d jetto -v "file://$work/out?ext=png" -m marven_jetto_412_519 \
  2>>"$work/log/commands" || true
sleep 1  # printer-up-time is 0 in the first second

# One IPP request to the printer: the test file's body on standard input,
# ipptool's options as arguments.
request() {
  test=$(mktemp "$work/jobs/XXXXXX")
  { printf '%s\n' '{' 'GROUP operation-attributes-tag' 'ATTR charset attributes-charset utf-8' \
      'ATTR naturalLanguage attributes-natural-language en' 'ATTR uri printer-uri $uri'
    cat
    echo '}'; } >"$test"
  ipptool -t "$@" "$uri" "$test" 2>&1 || true
}
# The media-col entries the printer offers, one a line, each with its margins.
request <<EOF | sed -n 's/^ *media-col-database ([^)]*) = //p' | sed 's/},{/}\n{/g' \
  >"$work/database"
OPERATION Get-Printer-Attributes
ATTR keyword requested-attributes media-col-database
DISPLAY media-col-database
EOF

# The job attributes for WORDS: media=PWG-NAME, source=NAME, borderless, res=DPI,
# mode=COLOUR-MODE, copies=N, pages=FIRST-LAST. A size is sent by its dimensions, as clients do,
# with no margins when borderless, else with the first non-zero margins that
# the printer offers for it from that source (or from any, when its entries
# name no source).
job_attributes() {
  media="" source=auto borderless=no
  for word; do
    case $word in
      media=*) media=${word#*=} ;;
      source=*) source=${word#*=} ;;
      borderless) borderless=yes ;;
      res=*) echo "ATTR resolution printer-resolution ${word#*=}dpi" ;;
      mode=*) echo "ATTR keyword print-color-mode ${word#*=}" ;;
      copies=*) echo "ATTR integer copies ${word#*=}" ;;
      pages=*) echo "ATTR rangeOfInteger page-ranges ${word#*=}" ;;
    esac
  done
  [ -n "$media" ] || return 0
  # The dimensions that the name carries, in hundredths of millimetres.
  # shellcheck disable=SC2046
  set -- $(echo "$media" | awk -F_ '{ unit = $NF ~ /in$/ ? 2540 : 100; sub(/(in|mm)$/, "", $NF);
    split($NF, d, "x"); printf "%d %d", d[1] * unit + 0.5, d[2] * unit + 0.5 }')
  echo "ATTR collection media-col { MEMBER collection media-size {"
  echo "MEMBER integer x-dimension $1 MEMBER integer y-dimension $2 }"
  echo "MEMBER keyword media-source $source"
  if [ "$borderless" = yes ]; then
    for side in top bottom left right; do echo "MEMBER integer media-$side-margin 0"; done
  else
    grep -F "x-dimension=$1 y-dimension=$2}" "$work/database" | grep "margin=[1-9]" |
      awk -v s="media-source=$source" '!/media-source=/ || index($0, s " ") || index($0, s "}")' |
      head -n 1 | tr -d '{}' | tr ' ' '\n' |
      sed -n 's/^\(media-.*-margin\)=\(.*\)/MEMBER integer \1 \2/p'
  fi
  echo "}"
}

# Prints FILE as job NAME with the attributes of WORDS, waits until it has
# ended, and says how and what reached the printer: "completed: 1 x 744x1049
# colour", "aborted: nothing", "refused (client-error-...)". The job's
# message is left in jobs/NAME.message. `submit` only prints and waits.
job() { # NAME FILE [WORDS...]
  submit "$@"
  # Each poll displays the job's state; the last is the one that ended it.
  sed -n 's/^ *job-state-message ([^)]*) = //p' "$work/jobs/$1.log" | tail -n 1 \
    >"$work/jobs/$1.message"
  state=$(sed -n 's/^ *job-state (enum) = //p' "$work/jobs/$1.log" | tail -n 1)
  if [ -z "$state" ]; then
    echo "refused ($(sed -n 's/.*status-code = \([a-z-]*\).*/\1/p' "$work/jobs/$1.log" | head -n1))"
  else
    # The printer's output is named after the job's id, never its name.
    id=$(sed -n 's/^ *job-id (integer) = //p' "$work/jobs/$1.log" | tail -n 1)
    echo "$state: $("$png_info" "$work/out/job-$id.png")"
  fi
}
submit() { # NAME FILE [WORDS...]
  name=$1 file=$2
  shift 2
  case $file in
    *.pdf) format=application/pdf ;; *.ps) format=application/postscript ;;
    *.pwg) format=image/pwg-raster ;; *.urf) format=image/urf ;;
    *.jpg) format=image/jpeg ;; *.png) format=image/png ;;
  esac
  request -d name="$name" -f "$file" >"$work/jobs/$name.log" <<EOF
OPERATION Print-Job
DELAY "0,0.1"
ATTR name job-name \$name
ATTR mimeMediaType document-format $format
GROUP job-attributes-tag
$(job_attributes "$@")
FILE \$filename
STATUS successful-ok
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
EXPECT job-state WITH-VALUE >6 REPEAT-NO-MATCH REPEAT-LIMIT 6000
DISPLAY job-state
DISPLAY job-state-message
DISPLAY job-impressions-completed
EOF
}

in=$work/in
