#!/bin/sh
# Follows documents through the Printer Application's real server, from gs
# to the printer: the pixels that reach it are those gs writes as PNG itself,
# each page goes out as soon as it is whole while gs still draws the next,
# copies are sent again without drawing again, a document that fails its
# check prints nothing, and a cancelled job stops gs at once and leaves whole
# images only.
#
# Usage: app_stream_test.sh APP PNG-INFO EXAMPLES-DIR
# The server runs as tests/app_server.sh says.
set -eu

usage="usage: app_stream_test.sh APP PNG-INFO EXAMPLES-DIR"
log_level=debug
. "$(dirname "$0")/app_server.sh"

. "$(dirname "$0")/check.sh"

# The server's gs is a script that lists each run's device in $gslog/runs
# and its process ID in $gslog/DEVICE.pid, and then is what $gslog/settings
# says: the real gs, or the stand-in drawing `pages` pages `delay` seconds
# apart, whose check (its nullpage run) goes on once the drawing has started,
# fails when `check` says `fails`, and ends only once the drawing has ended
# when it says `last`.
gslog=$work/gslog
install -d -o 65534 -g 65534 "$gslog"
rm -f "$work/bin/gs"
cat >"$work/bin/gs" <<EOF
#!/bin/sh
PATH=/usr/bin:/bin
export PATH
gs=real pages=1 delay="" check=""
. "$gslog/settings"
device=\$(printf '%s\n' "\$@" | sed -n 's/^-sDEVICE=//p')
echo "\$device" >>"$gslog/runs"
echo \$\$ >"$gslog/\$device.pid"
[ "\$gs" = real ] && exec "$(command -v gs)" "\$@"
mkdir -p "$gslog/\$device"
if [ "\$device" = nullpage ]; then
  case \$check in *fails*) export RAVO_FAKE_GS_STATUS=1 ;; esac
  drawing=started
  case \$check in *last*) drawing=ended ;; esac
  tries=0
  until [ "\$tries" -ge 400 ]; do
    case \$drawing in
      started) [ -e "$gslog/ppmraw.pid" ] || [ -e "$gslog/pcxgray.pid" ] && break ;;
      ended) [ -e "$gslog/ppmraw/pid" ] || [ -e "$gslog/pcxgray/pid" ] && sleep 1 && break ;;
    esac
    sleep 0.05
    tries=\$((tries + 1))
  done
else
  export RAVO_FAKE_GS_DELAY="\$delay"
fi
RAVO_FAKE_GS_LOG="$gslog/\$device" RAVO_FAKE_GS_OUTPUT=png RAVO_FAKE_GS_PAGES="\$pages" \
  exec sh "$(realpath "$(dirname "$0")/fake-gs/gs")" "\$@"
EOF
chmod 755 "$work/bin/gs"
use_gs() { # SETTINGS...
  rm -rf "${gslog:?}"/* "${work:?}"/out/*
  printf '%s\n' "$@" >"$gslog/settings"
  : >"$gslog/runs"
  chown 65534:65534 "$gslog/runs"
}
slug() { echo "$1" | tr '[:upper:]' '[:lower:]' | tr -c 'a-z0-9\n' -; }
# The check runs beside the drawing: the devices in order of their names.
runs() { sort "$gslog/runs" | tr '\n' ' ' | sed 's/ $//'; }
state() { sed -n 's/^ *job-state (enum) = //p' "$work/jobs/$1.log" | tail -n 1; }
output() { ls "$work"/out/job-*.png 2>/dev/null | head -n 1; }

ps2pdf "$examples/testpage.ps" "$in/page.pdf"
printf '%%!PS\n0 0.5 0.8 setrgbcolor 60 100 400 600 rectfill showpage\n' >"$in/second.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$in/two.pdf" \
  "$examples/testpage.ps" "$in/second.ps"
a6="media=iso_a6_105x148mm res=180"

# Each page that reached the printer, named by the page of gs's own PNG
# output (png16m, or pnggray for grey) whose pixels it has, at the size the
# printer's pages have and the job's resolution; "?" for a page that is none.
while IFS='|' read -r label document words expected; do
  use_gs gs=real
  name=$(slug "$label")
  # shellcheck disable=SC2086 # the words are the job's attributes
  job "$name" "$in/$document" $words >/dev/null
  id=$(sed -n 's/^ *job-id (integer) = //p' "$work/jobs/$name.log" | tail -n 1)
  "$png_info" --pixels "$work/out/job-$id.png" >"$work/$name.pages" || true
  res=360 device=png16m
  for word in $words; do
    case $word in res=*) res=${word#res=} ;; mode=monochrome) device=pnggray ;; esac
  done
  mkdir "$work/$name"
  gs -q -dSAFER -dBATCH -dNOPAUSE -r"$res" -g"$(head -n 1 "$work/$name.pages" | cut -d' ' -f1)" \
    -sDEVICE="$device" -sOutputFile="$work/$name/%d.png" "$in/$document" >/dev/null 2>&1
  for page in $(seq "$(find "$work/$name" -name '*.png' | wc -l)"); do
    "$png_info" --pixels "$work/$name/$page.png"
  done >"$work/$name.gs"
  pages=$(awk 'NR == FNR { page[$0] = FNR; next } { printf "%s%s", sep, ($0 in page) ? page[$0] : "?"
    sep = " " }' "$work/$name.gs" "$work/$name.pages")
  check "$label" "$expected" "$(state "$name"): pages $pages; runs $(runs)"
done <<CASES
PDF at the defaults, A4 at 360 dpi|page.pdf||completed: pages 1; runs nullpage ppmraw
two pages, A6 at 180 dpi|two.pdf|$a6|completed: pages 1 2; runs nullpage ppmraw
two pages, three copies|two.pdf|$a6 copies=3|completed: pages 1 2 1 2 1 2; runs nullpage ppmraw
two pages grey, three copies|two.pdf|$a6 mode=monochrome copies=3|completed: pages 1 2 1 2 1 2; runs nullpage pcxgray
the second of two pages, two copies|two.pdf|$a6 pages=2-2 copies=2|completed: pages 2 2; runs nullpage ppmraw
CASES

# With a slow stand-in, the first page is whole at the printer while gs is
# still drawing (before the stand-in has recorded its end), and never before
# the check has ended; a document whose check fails prints nothing, even
# when the check ends after the drawing.
while IFS='|' read -r label settings words expected; do
  # shellcheck disable=SC2086
  use_gs $settings
  name=$(slug "$label")
  # shellcheck disable=SC2086
  submit "$name" "$in/page.pdf" $words &
  client=$!
  first="nothing while the job ran"
  while kill -0 "$client" 2>/dev/null; do
    file=$(output)
    if [ -n "$file" ] && "$png_info" "$file" 2>/dev/null | grep -q '^1 x '; then
      for device in ppmraw pcxgray; do
        if [ -e "$gslog/$device/pages" ]; then
          drawn=$(wc -l <"$gslog/$device/pages")
          if [ -e "$gslog/$device/pid" ]; then ended=after; else ended=before; fi
        fi
      done
      checked=before
      [ ! -e "$gslog/nullpage/nullpage/pid" ] || checked=after
      first="first page out $ended gs ended, with $drawn drawn, $checked the check ended"
      break
    fi
    sleep 0.05
  done
  wait "$client"
  file=$(output)
  check "$label" "$expected" "$(state "$name"): ${file:+$("$png_info" "$file") }$first; runs $(runs)"
done <<CASES
three slow pages|gs=stand-in pages=3 delay=3|$a6|completed: 3 x 744x1049 colour first page out before gs ended, with 1 drawn, after the check ended; runs nullpage ppmraw
three slow grey pages|gs=stand-in pages=3 delay=3|$a6 mode=monochrome|completed: 3 x 744x1049 grey first page out before gs ended, with 1 drawn, after the check ended; runs nullpage pcxgray
a document that fails its check|gs=stand-in pages=3 delay=3 check=fails|$a6|aborted: nothing while the job ran; runs nullpage ppmraw
a document that fails its check once drawn|gs=stand-in pages=3 check=fails-last|$a6|aborted: nothing while the job ran; runs nullpage ppmraw
CASES

# Pages drawn before the check has ended wait for it: while the check goes
# on after the drawing has ended, nothing is at the printer.
use_gs gs=stand-in pages=3 check=last
# shellcheck disable=SC2086
submit slow-check "$in/page.pdf" $a6 &
client=$!
seen="the drawing's end not seen"
while kill -0 "$client" 2>/dev/null; do
  if [ -e "$gslog/ppmraw/pid" ] && [ ! -e "$gslog/nullpage/nullpage/pid" ]; then
    seen="nothing out while the check ran"
    file=$(output)
    if [ -n "$file" ] && "$png_info" "$file" 2>/dev/null | grep -q '^[1-9]'; then
      seen="pages out before the check ended"
    fi
    break
  fi
  sleep 0.05
done
wait "$client"
check "a check that ends after the drawing" "completed: 3 x 744x1049 colour, nothing out while the check ran" \
  "$(state slow-check): $("$png_info" "$(output)"), $seen"

# Cancelled while pages stream out, gs and the job end within a second, and
# what reached the printer is whole images, fewer than gs would have drawn.
use_gs gs=stand-in pages=60 delay=1
submit cancelled "$in/page.pdf" &
client=$!
tries=0
# The first image is whole once its end chunk is out; under load the file
# is seldom between images, so reading it whole would rarely succeed.
until [ -n "$(output)" ] && grep -q -a IEND "$(output)"; do
  tries=$((tries + 1))
  [ "$tries" -lt 1200 ] || break
  sleep 0.05
done
drawing=$(cat "$gslog/ppmraw.pid" 2>/dev/null || echo 0)
check "gs drawing when cancelled" yes "$(running "$drawing" && echo yes || echo no)"
as_nobody "$app" cancel -d jetto -a >/dev/null 2>>"$work/log/commands" || true
tries=0
while { running "$drawing" || kill -0 "$client" 2>/dev/null; } && [ "$tries" -lt 10 ]; do
  tries=$((tries + 1))
  sleep 0.1
done
gone() { if running "$1"; then echo running; else echo ended; fi; }
check "a second after the cancel" "gs ended, job ended" \
  "gs $(gone "$drawing"), job $(kill -0 "$client" 2>/dev/null && echo running || echo ended)"
wait "$client"
images=$("$png_info" "$(output)" || true)
case $images in
  [1-9]" x 2976x4209 colour" | [1-5][0-9]" x 2976x4209 colour") images="whole images, fewer than 60" ;;
esac
check "cancelled job" "canceled: whole images, fewer than 60" "$(state cancelled): $images"
check "server running after the cancel" yes "$(running "$server" && echo yes || echo no)"

finish
