#!/bin/sh
# The printer's web pages in a real browser: after a job, raster or PDF, the
# page of the last job shows one thumbnail per page sent, grey for a grey job,
# in the page's proportions, and a new job replaces them; the home, media and
# defaults pages render without error, with the app's own icons, the last two
# for an administrator; a printer added later gets the app's media page too; the thumbnails are shown to loopback clients and to
# administrators on the network, and refused to anyone else there; and a
# server run by a user keeps its state in $XDG_CONFIG_HOME, made when missing.
# Headless chromium loads the pages.
#
# Usage: app_preview_test.sh APP PNG-INFO EXAMPLES-DIR PAM-FILE
# The server runs as root, as the shipped unit runs it, with the shipped PAM
# service, in private mount, network and process namespaces; an administrator
# (in lpadmin) and an ordinary user, with passwords, live in a private overlay
# of /etc, as in app_access_test.sh. Exits 77 (skipped), saying why, when the
# program is not built, the namespaces cannot be made or chromium is missing
# or cannot run, unless CI=true.
set -eu

usage="usage: app_preview_test.sh APP PNG-INFO EXAMPLES-DIR PAM-FILE"
app=${1:?$usage} png_info=${2:?$usage} examples=${3:?$usage} pam_file=${4:?$usage}

unavailable() {
  echo "app preview test: $*" >&2
  if [ "${CI:-}" = true ]; then exit 1; fi
  exit 77
}

if [ "${RAVO_APP_INSIDE:-}" != 1 ]; then
  [ -x "$app" ] || unavailable "$app is not built"
  for program in gs curl setpriv unshare ip openssl; do
    command -v "$program" >/dev/null 2>&1 || unavailable "$program is not installed"
  done
  command -v chromium >/dev/null 2>&1 ||
    unavailable "chromium is not installed (scripts/install-deps --tests installs it)"
  [ "$(id -u)" = 0 ] || unavailable "needs root to make the namespaces and the users"
  unshare --mount --net --pid --fork --mount-proc --propagation private true 2>/dev/null ||
    unavailable "cannot make private namespaces"
  work=$(mktemp -d "${TMPDIR:-/tmp}/ravo-preview-XXXXXX")
  trap 'rm -rf "$work"' EXIT
  RAVO_APP_INSIDE=1 RAVO_APP_WORK=$work unshare --mount --net --pid --fork --mount-proc \
    --propagation private sh "$0" "$(realpath "$app")" "$(realpath "$png_info")" \
    "$(realpath "$examples")" "$(realpath "$pam_file")"
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
mount -t tmpfs -o mode=0755 tmpfs /var/lib  # root's server keeps its state there
mkdir "$work/bin" "$work/in" "$work/etc" "$work/etc-work"
mount -t overlay overlay -o "lowerdir=/etc,upperdir=$work/etc,workdir=$work/etc-work" /etc
for dir in home tmp spool-0 spool-65534 log out browser; do
  install -d -o 65534 -g 65534 "$work/$dir"
done
ln -s "$(command -v gs)" "$work/bin/gs"

# The users: ravoadmin in lpadmin, ravouser not; each with a password.
grep -q '^lpadmin:' /etc/group || echo 'lpadmin:x:4900:' >>/etc/group
sed -i 's/^\(lpadmin:[^:]*:[^:]*:\)\(..*\)$/\1\2,ravoadmin/; s/^\(lpadmin:[^:]*:[^:]*:\)$/\1ravoadmin/' \
  /etc/group
for entry in ravoadmin:4901:admin-secret ravouser:4902:user-secret; do
  name=${entry%%:*} id=${entry#*:} password=${entry##*:}
  id=${id%%:*}
  echo "$name:x:$id:$id::/nonexistent:/usr/sbin/nologin" >>/etc/passwd
  echo "$name:x:$id:" >>/etc/group
  echo "$name:$(openssl passwd -6 "$password"):19000:0:99999:7:::" >>/etc/shadow
done
cp "$pam_file" /etc/pam.d/ravo-printer-app
# A wrong password is answered at once here, without pam_unix's pause.
sed -i 's/^\(auth[[:space:]].*pam_unix\.so\)/\1 nodelay/' /etc/pam.d/common-auth
admin=ravoadmin:admin-secret

# Where USER's programs keep their state: root's own, so that nobody's is
# left for nobody's server to make.
config_home() { # USER
  if [ "$1" = 0 ]; then echo "$work/root-config"; else echo "$work/home/xdg/config"; fi
}
# USER runs COMMAND with the server's environment.
as() { # USER COMMAND...
  user=$1
  shift
  setpriv --reuid="$user" --regid="$user" --clear-groups env -i HOME="$work/home" \
    XDG_CONFIG_HOME="$(config_home "$user")" TMPDIR="$work/tmp" PATH="$work/bin:/usr/bin:/bin" \
    ASAN_OPTIONS="${ASAN_OPTIONS:-}" UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" "$@"
}
as_nobody() { as 65534 "$@"; }
base=http://localhost:8000
# The server, as root (the way the shipped unit runs it) or as nobody; it is
# started without a function between, so that $! is the server.
start_server() { # USER
  setpriv --reuid="$1" --regid="$1" --clear-groups env -i HOME="$work/home" \
    XDG_CONFIG_HOME="$(config_home "$1")" TMPDIR="$work/tmp" PATH="$work/bin:/usr/bin:/bin" \
    ASAN_OPTIONS="${ASAN_OPTIONS:-}" UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" "$app" server \
    -o server-port=8000 -o log-level=debug -o log-file="$work/log/server-$1.log" \
    -o spool-directory="$work/spool-$1" 2>>"$work/log/stderr" &
  server=$!
  tries=0
  until curl -s -o /dev/null --max-time 1 "$base/"; do
    tries=$((tries + 1))
    if [ "$tries" -ge 100 ]; then
      echo "the server did not start:" >&2
      tail -n 20 "$work/log/server-$1.log" >&2
      exit 1
    fi
    sleep 0.1
  done
  as "$1" "$app" add -d jetto -v "file://$work/out?ext=png" -m marven_jetto_412_519 \
    2>>"$work/log/commands" || true
}
stop() {
  kill "$server" 2>/dev/null || true
  wait "$server" 2>/dev/null || true
}
trap stop EXIT
start_server 0

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
  # Under LeakSanitizer, what libcups leaks would end the command before its
  # output is written.
  id=$(ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0" as 0 "$app" submit -d jetto \
    -o document-format="$format" "$@" "$file" 2>>"$work/log/commands" | sed -n 's/^jetto-//p')
  [ -n "$id" ] || { fail "$file was not taken"; return; }
  tries=0
  until curl -s "$base/jetto/preview" | grep -q "Job $id,"; do
    tries=$((tries + 1))
    [ "$tries" -lt 300 ] || { fail "the page never showed job $id ($file)"; return; }
    sleep 0.1
  done
}

# The thumbnails the last job's page shows, as "WIDTHxHEIGHT KIND" lines,
# each fetched as the browser would and decoded; " blank" follows one so
# small that it can only be a white page (a white A4 thumbnail takes some
# 1.5 KiB, the test page's about 6 KiB, or 3 KiB in grey on A6).
shown() {
  dom "$base/jetto/preview" "$work/preview.html" || { echo "no page"; return; }
  grep -o 'src="/jetto/preview.png?[^"]*"' "$work/preview.html" | sed 's/^src="//; s/"$//; s/&amp;/\&/g' |
    while read -r path; do
      curl -s -o "$work/thumb.png" "$base$path"
      blank=""
      [ "$(wc -c <"$work/thumb.png")" -gt 2048 ] || blank=" blank"
      echo "$("$png_info" "$work/thumb.png" | sed "s/^1 x //")$blank"
    done
}

render() {
  gs -q -dSAFER -dBATCH -dNOPAUSE -dFIXEDMEDIA "$@" "$examples/testpage.ps" >/dev/null 2>&1
}
render -sDEVICE=pwgraster -dcupsColorSpace=19 -dcupsBitsPerColor=8 -r360 -g2976x4209 \
  -sOutputFile="$work/in/colour.pwg"
cat "$work/in/colour.pwg" >"$work/in/two.pwg"
tail -c +5 "$work/in/colour.pwg" >>"$work/in/two.pwg"  # a second page: no second sync word
render -sDEVICE=pwgraster -dcupsColorSpace=18 -dcupsBitsPerColor=8 -r180 -g744x1049 \
  -sOutputFile="$work/in/grey.pwg"
render -sDEVICE=pdfwrite -sPAPERSIZE=a4 -sOutputFile="$work/in/a4.pdf"

# job file|format|options|thumbnails: one "WIDTHxHEIGHT KIND" a page, the page as
# printed (raster at the resolution it was drawn at) shrunk to fit 512 pixels
while IFS='|' read -r file format options want; do
  # shellcheck disable=SC2086
  print_job "$work/in/$file" "$format" $options
  got=$(shown | tr '\n' ';')
  [ "$got" = "$want" ] || fail "$file: the page shows '$got', not '$want'"
  grep -q 'class="preview"' "$work/preview.html" || fail "$file: no thumbnail in the DOM"
done <<'EOF'
two.pwg|image/pwg-raster|-o media=iso_a4_210x297mm|331x468 colour;331x468 colour;
grey.pwg|image/pwg-raster|-o media=iso_a6_105x148mm -o print-color-mode=monochrome|248x350 grey;
a4.pdf|application/pdf|-o media=iso_a4_210x297mm|331x468 colour;
EOF

# A page the last job did not have is not found, and the answer is whole.
answer=$(curl -s -o /dev/null --max-time 10 -w '%{http_code} %{exitcode}' \
  "$base/jetto/preview.png?page=99" || true)
[ "$answer" = "404 0" ] || fail "a thumbnail of no page: '$answer', not '404 0'"

# The thumbnails are private: on the network, plain HTTP is sent to TLS, and
# there only an administrator sees them; a loopback client sees them too.
network=https://192.0.2.1:8000
for path in /jetto/preview "/jetto/preview.png?page=1"; do
  while read -r url login want; do
    set -- -k -s -o /dev/null -w '%{http_code}' --max-time 20
    [ "$login" = - ] || set -- "$@" -u "$login"
    status=$(curl "$@" "$url$path" || true)
    case " $want " in
      *" $status "*) ;;
      *) fail "$url$path as '$login' gave status $status, not $want" ;;
    esac
  done <<EOF
http://192.0.2.1:8000 - 301 426
$network - 401
$network ravoadmin:wrong 401
$network ravouser:user-secret 403
$network $admin 200
$base - 200
EOF
done

# PAPPL's own pages render in the browser, with the app's name and icons; the
# media and defaults pages are an administrator's, who gives the browser his
# name and password. The printer was added once the server ran, and its media
# page is still the app's own, with a choice for each source by its name.
while IFS='|' read -r path login expect; do
  url=$base$path
  [ "$login" = - ] || url=http://$login@localhost:8000$path
  dom "$url" "$work/page.html" || fail "chromium could not load $path"
  grep -q "$expect" "$work/page.html" || fail "$path lacks '$expect'"
done <<EOF
/|-|<span class="active">ravo Printer Application</span>
/jetto/|-|Last Job
/jetto/preview|-|href="/">ravo Printer Application</a>
/jetto/media|$admin|>Media</h1>
/jetto/media|$admin|<select
/jetto/media|$admin|select name="main-roll"
/jetto/printing|$admin|print-color-mode
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

# A printer added long after the server started gets the app's media page
# too, once the server has seen it.
as 0 "$app" add -d later -v "file://$work/out?ext=png" -m marven_jetto_412_519 \
  2>>"$work/log/commands" || true
tries=0
until curl -s --max-time 5 -u "$admin" "$base/later/media" | grep -q 'select name="main-roll"'; do
  tries=$((tries + 1))
  if [ "$tries" -ge 50 ]; then
    fail "the media page of a printer added later is not the app's"
    break
  fi
  sleep 0.2
done

# A user's server made the missing $XDG_CONFIG_HOME and keeps its state
# there, which it writes at the latest when it stops.
stop
start_server 65534
stop
trap - EXIT
grep -q 'name="jetto"' "$work/home/xdg/config/ravo-printer-app.state" 2>/dev/null ||
  fail "the state is not in the XDG_CONFIG_HOME made for it"

if [ "$failures" -ne 0 ]; then
  tail -n 30 "$work/log/server-0.log" >&2
  exit 1
fi
echo "app preview test: all passed"
