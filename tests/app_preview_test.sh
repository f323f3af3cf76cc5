#!/bin/sh
# The printer's web page in a real browser: after a job, the page of the last
# job shows one thumbnail per page sent, grey for a grey job, in the page's
# proportions, and a new job replaces them; the home, media and defaults pages
# render without error, with the app's own icons; a client on the network
# without credentials is refused the thumbnails; and a server run by a user
# keeps its state in $XDG_CONFIG_HOME, made when missing. Headless chromium
# loads the pages.
#
# Usage: app_preview_test.sh APP PNG-INFO EXAMPLES-DIR
# The server runs as nobody in private mount, network and process namespaces,
# as in app_test.sh. Exits 77 (skipped), saying why, when the program is not
# built, the namespaces cannot be made or chromium is missing or cannot run,
# unless CI=true.
set -eu

usage="usage: app_preview_test.sh APP PNG-INFO EXAMPLES-DIR"
app=${1:?$usage} png_info=${2:?$usage} examples=${3:?$usage}

unavailable() {
  echo "app preview test: $*" >&2
  if [ "${CI:-}" = true ]; then exit 1; fi
  exit 77
}

if [ "${RAVO_APP_INSIDE:-}" != 1 ]; then
  [ -x "$app" ] || unavailable "$app is not built"
  for program in gs curl setpriv unshare ip; do
    command -v "$program" >/dev/null 2>&1 || unavailable "$program is not installed"
  done
  command -v chromium >/dev/null 2>&1 ||
    unavailable "chromium is not installed (scripts/install-deps --tests installs it)"
  [ "$(id -u)" = 0 ] || unavailable "needs root to make the namespaces and become nobody"
  unshare --mount --net --pid --fork --mount-proc --propagation private true 2>/dev/null ||
    unavailable "cannot make private namespaces"
  work=$(mktemp -d "${TMPDIR:-/tmp}/ravo-preview-XXXXXX")
  trap 'rm -rf "$work"' EXIT
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
# A second address on loopback stands for the network: a client connecting
# to it is not a loopback client.
ip addr add 192.0.2.1/24 dev lo
mount -t tmpfs -o mode=0755 tmpfs "$work"
mount -t tmpfs -o mode=0755 tmpfs /run
mkdir "$work/bin" "$work/in"
for dir in home tmp spool log out browser; do install -d -o 65534 -g 65534 "$work/$dir"; done
ln -s "$(command -v gs)" "$work/bin/gs"
as_nobody() {
  setpriv --reuid=65534 --regid=65534 --clear-groups env -i HOME="$work/home" \
    XDG_CONFIG_HOME="$work/home/xdg/config" TMPDIR="$work/tmp" PATH="$work/bin:/usr/bin:/bin" ASAN_OPTIONS="${ASAN_OPTIONS:-}" \
    UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" "$@"
}
base=http://localhost:8000
as_nobody "$app" server -o server-port=8000 -o log-level=debug \
  -o log-file="$work/log/server.log" -o spool-directory="$work/spool" \
  2>>"$work/log/stderr" &
server=$!
stop() {
  kill "$server" 2>/dev/null || true
  wait "$server" 2>/dev/null || true
}
trap stop EXIT
tries=0
until curl -s -o /dev/null --max-time 1 "$base/"; do
  tries=$((tries + 1))
  if [ "$tries" -ge 100 ]; then
    echo "the server did not start:" >&2
    tail -n 20 "$work/log/server.log" >&2
    exit 1
  fi
  sleep 0.1
done
as_nobody "$app" add -d jetto -v "file://$work/out?ext=png" -m marven_jetto_412_519 \
  2>>"$work/log/commands" || true

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# chromium's DOM of a page after load, with its images decoded.
dom() { # URL OUTPUT
  as_nobody timeout 60 chromium --headless=new --no-sandbox --disable-gpu --no-first-run \
    --user-data-dir="$work/browser" --virtual-time-budget=5000 --dump-dom "$1" \
    >"$2" 2>>"$work/log/browser" || return 1
}
dom "$base/" "$work/home.html" ||
  { tail -n 5 "$work/log/browser" >&2; unavailable "chromium cannot run here"; }

# Prints FILE in FORMAT with OPTIONS, and waits until the last job's page
# shows it.
print_job() { # FILE FORMAT OPTIONS...
  file=$1 format=$2
  shift 2
  id=$(as_nobody "$app" submit -d jetto -o document-format="$format" "$@" "$file" \
    2>>"$work/log/commands" | sed -n 's/^jetto-//p')
  [ -n "$id" ] || { fail "$file was not taken"; return; }
  tries=0
  until curl -s "$base/jetto/preview" | grep -q "Job $id,"; do
    tries=$((tries + 1))
    [ "$tries" -lt 300 ] || { fail "the page never showed job $id ($file)"; return; }
    sleep 0.1
  done
}

# The thumbnails the last job's page shows, as "WIDTHxHEIGHT KIND" lines,
# each fetched as the browser would and decoded.
shown() {
  dom "$base/jetto/preview" "$work/preview.html" || { echo "no page"; return; }
  grep -o 'src="/jetto/preview.png?[^"]*"' "$work/preview.html" | sed 's/^src="//; s/"$//; s/&amp;/\&/g' |
    while read -r path; do
      curl -s -o "$work/thumb.png" "$base$path"
      "$png_info" "$work/thumb.png" | sed "s/^1 x //"
    done
}

render() {
  gs -q -dSAFER -dBATCH -dNOPAUSE -dFIXEDMEDIA "$@" "$examples/testpage.ps" >/dev/null 2>&1
}
render -sDEVICE=pwgraster -r360 -g2976x4209 -sOutputFile="$work/in/colour.pwg"
cat "$work/in/colour.pwg" >"$work/in/two.pwg"
tail -c +5 "$work/in/colour.pwg" >>"$work/in/two.pwg"  # a second page: no second sync word
render -sDEVICE=pwgraster -dcupsColorSpace=18 -r180 -g744x1049 -sOutputFile="$work/in/grey.pwg"

# job file|format|options|thumbnails: one "WIDTHxHEIGHT KIND" a page
while IFS='|' read -r file format options want; do
  # shellcheck disable=SC2086
  print_job "$work/in/$file" "$format" $options
  got=$(shown | tr '\n' ';')
  [ "$got" = "$want" ] || fail "$file: the page shows '$got', not '$want'"
  grep -q 'class="preview"' "$work/preview.html" || fail "$file: no thumbnail in the DOM"
done <<'EOF'
two.pwg|image/pwg-raster|-o media=iso_a4_210x297mm|331x468 colour;331x468 colour;
grey.pwg|image/pwg-raster|-o media=iso_a6_105x148mm -o print-color-mode=monochrome|298x420 grey;
EOF

# The thumbnails are private: a network client without credentials is
# refused the page and the images; a loopback client is not.
for path in /jetto/preview "/jetto/preview.png?page=1"; do
  status=$(curl -s -o /dev/null -w '%{http_code}' "http://192.0.2.1:8000$path")
  [ "$status" = 403 ] || fail "a network client got $path with status $status"
  status=$(curl -s -o /dev/null -w '%{http_code}' "$base$path")
  [ "$status" = 200 ] || fail "a loopback client got $path with status $status"
done

# PAPPL's own pages render in the browser, with the app's name and icons.
while IFS='|' read -r path expect; do
  dom "$base$path" "$work/page.html" || fail "chromium could not load $path"
  grep -q "$expect" "$work/page.html" || fail "$path lacks '$expect'"
done <<'EOF'
/|<span class="active">ravo Printer Application</span>
/jetto/|Last Job
/jetto/preview|href="/">ravo Printer Application</a>
/jetto/media|ready0-size
/jetto/printing|print-color-mode
EOF
icons=$examples/../packaging/icons
for icon in /navicon.png /favicon.png /jetto/icon-sm.png /jetto/icon-md.png /jetto/icon-lg.png; do
  curl -s -o "$work/icon.png" "$base$icon"
  ours=false
  for size in 48 128 512; do
    cmp -s "$work/icon.png" "$icons/printer-$size.png" && ours=true
  done
  $ours || fail "$icon is not one of the app's own icons"
done

# The server made the missing $XDG_CONFIG_HOME and keeps its state there,
# which it writes at the latest when it stops.
stop
trap - EXIT
grep -q 'name="jetto"' "$work/home/xdg/config/ravo-printer-app.state" 2>/dev/null ||
  fail "the state is not in the XDG_CONFIG_HOME made for it"

if [ "$failures" -ne 0 ]; then
  tail -n 30 "$work/log/server.log" >&2
  exit 1
fi
echo "app preview test: all passed"
