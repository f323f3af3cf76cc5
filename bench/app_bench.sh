#!/bin/sh
# Times documents through the Printer Application's real server, from
# submission to completion, against gs writing PNG itself on the same file at
# the same size and resolution (`gs -sDEVICE=png16m -r... -g... -o
# out-%d.png`), and checks nothing: a 4-page photo PDF at A4 720 dpi, a
# 20-page text PDF at A4 360 dpi, and that text PDF in 3 copies against one.
# For the app it also gives the CPU time of the server and its gs (from
# /proc), when the first whole PNG reached the printer, the PNG bytes, and
# the server's peak resident set (VmHWM) against its idle size; and the
# app's two gs runs alone (its check with nullpage at 72 dpi, its drawing
# with ppmraw) to show where the time goes. Medians of alternating runs.
#
# Usage: app_bench.sh APP PNG-INFO EXAMPLES-DIR PHOTO-PDF TEXT-PDF [RUNS]   (3 by default)
# The server runs as tests/app_server.sh says.
set -eu

usage="usage: app_bench.sh APP PNG-INFO EXAMPLES-DIR PHOTO-PDF TEXT-PDF [RUNS]"
log_level=info
. "$(dirname "$0")/../tests/app_server.sh"
# The server finds its programs in $work/bin alone: stdbuf too, with which
# the runner has gs write its raw pages in large pieces.
ln -s "$(command -v stdbuf)" "$work/bin/stdbuf"
cp "${1:?$usage}" "$in/photo.pdf"
cp "${2:?$usage}" "$in/text.pdf"
runs=${3:-3}

tick=$(getconf CLK_TCK)
# The server itself, not the shell that started it.
server=$(pgrep -x "$(basename "$app" | cut -c1-15)")
# The server's CPU time so far, its gs runs included, in seconds.
server_cpu() { awk -v tick="$tick" '{ print ($14 + $15 + $16 + $17) / tick }' "/proc/$server/stat"; }
memory() { sed -n "s/^$1:[[:space:]]*\([0-9]*\) kB/\1/p" "/proc/$server/status"; }
now() { date +%s.%N; }
# The end of a PNG image, whose CRC is always the same.
iend=$(printf 'IEND\256B`\202')

idle_rss=$(memory VmRSS) idle_hwm=$(memory VmHWM)

# One run through the app: "wall cpu first-page bytes" in the file $work/NAME.
app_run() { # NAME FILE WORDS...
  name=$1
  rm -f "$work"/out/* "$work/done" "$work/first"
  (until LC_ALL=C grep -q -a -F "$iend" "$work"/out/job-*.png 2>/dev/null; do
    [ ! -e "$work/done" ] || exit 0
    sleep 0.02
  done
  now >"$work/first") &
  watcher=$!
  cpu=$(server_cpu) start=$(now)
  submit "$@"
  end=$(now)
  touch "$work/done"
  wait "$watcher"
  first=$(cat "$work/first" 2>/dev/null || echo "$end")
  echo "$(awk -v a="$start" -v b="$end" -v f="$first" -v c="$cpu" -v d="$(server_cpu)" \
    'BEGIN { print b - a, d - c, f - a }') $(cat "$work"/out/job-*.png | wc -c)" >>"$work/$name"
}
# One run of gs as nobody, writing PNG itself, or with DEVICE (nullpage, as
# the app's check, or ppmraw, as the app's drawing) into /dev/null: "wall
# cpu - bytes".
gs_run() { # NAME FILE RESOLUTION SIZE [DEVICE]
  rm -f "$work"/out/*
  output=$work/out/out-%d.png
  [ -z "${5:-}" ] || output=/dev/null
  /usr/bin/time -f '%e %U %S' -o "$work/time" setpriv --reuid=65534 --regid=65534 \
    --clear-groups env -i HOME="$work/home" TMPDIR="$work/tmp" PATH="$work/bin" \
    gs -q -dSAFER -sDEVICE="${5:-png16m}" -r"$3" -g"$4" -o "$output" "$2" >/dev/null 2>&1
  echo "$(awk '{ print $1, $2 + $3, "-" }' "$work/time") $(cat "$work"/out/* 2>/dev/null | wc -c)" \
    >>"$work/$1"
}
# The size of the app's check's page, at 72 dpi, for a page of SIZE pixels
# at RESOLUTION.
check_size() { # SIZE RESOLUTION
  echo "$1" | awk -F x -v r="$2" '{ printf "%dx%d", int(($1 * 72 + r / 2) / r), int(($2 * 72 + r / 2) / r) }'
}
# The median of column N of the file $work/NAME.
median() { # NAME N
  awk -v n="$2" '{ print $n }' "$work/$1" | sort -n |
    awk '{ v[NR] = $1 } END { print (v[int((NR + 1) / 2)] + v[int(NR / 2) + 1]) / 2 }'
}

# The size of the printer's pages at each resolution, from a warm-up job each.
submit warm-photo "$in/photo.pdf" res=720
photo_size=$("$png_info" --pixels "$(ls "$work"/out/job-*.png)" | head -n 1 | cut -d' ' -f1)
rm -f "$work"/out/*
submit warm-text "$in/text.pdf"
text_size=$("$png_info" --pixels "$(ls "$work"/out/job-*.png)" | head -n 1 | cut -d' ' -f1)
gs_run warm "$in/text.pdf" 360 "$text_size"

for run in $(seq "$runs"); do
  if [ $((run % 2)) = 1 ]; then
    gs_run gs-photo "$in/photo.pdf" 720 "$photo_size"
    app_run app-photo "$in/photo.pdf" res=720
  else
    app_run app-photo "$in/photo.pdf" res=720
    gs_run gs-photo "$in/photo.pdf" 720 "$photo_size"
  fi
  gs_run check-photo "$in/photo.pdf" 72 "$(check_size "$photo_size" 720)" nullpage
  gs_run raw-photo "$in/photo.pdf" 720 "$photo_size" ppmraw
done
peak_hwm=$(memory VmHWM)
for run in $(seq "$runs"); do
  if [ $((run % 2)) = 1 ]; then
    gs_run gs-text "$in/text.pdf" 360 "$text_size"
    app_run app-text "$in/text.pdf"
    app_run app-copies "$in/text.pdf" copies=3
  else
    app_run app-copies "$in/text.pdf" copies=3
    app_run app-text "$in/text.pdf"
    gs_run gs-text "$in/text.pdf" 360 "$text_size"
  fi
  gs_run check-text "$in/text.pdf" 72 "$(check_size "$text_size" 360)" nullpage
  gs_run raw-text "$in/text.pdf" 360 "$text_size" ppmraw
done

echo "load average $(cut -d' ' -f1-3 /proc/loadavg) after the runs; $runs runs each, medians"
report() { # LABEL APP REFERENCE
  awk -v label="$1" -v w="$(median "$2" 1)" -v c="$(median "$2" 2)" -v f="$(median "$2" 3)" \
    -v b="$(median "$2" 4)" -v rw="$(median "$3" 1)" -v rc="$(median "$3" 2)" \
    -v rb="$(median "$3" 4)" 'BEGIN { printf "%s: app %.2f s (cpu %.2f s), against %.2f s (cpu \
%.2f s): ratio %.3f (cpu %.3f); first whole PNG at the printer at %.2f s, %.2f of the job; PNG \
%.2f MB against %.2f MB, %.2f\n", label, w, c, rw, rc, w / rw, c / rc, f, f / w, b / 1e6,
    rb / 1e6, b / rb }'
}
report "photo PDF, 4 pages, A4 720 dpi ($photo_size), gs png16m" app-photo gs-photo
report "text PDF, 20 pages, A4 360 dpi ($text_size), gs png16m" app-text gs-text
report "text PDF in 3 copies, against 1 copy through the app" app-copies app-text
parts() { # LABEL APP
  awk -v label="$1" -v w="$(median "app-$2" 1)" -v cw="$(median "check-$2" 1)" \
    -v cc="$(median "check-$2" 2)" -v rw="$(median "raw-$2" 1)" -v rc="$(median "raw-$2" 2)" \
    'BEGIN { printf "%s: gs checking (nullpage, 72 dpi) %.2f s (cpu %.2f s), gs drawing raw (ppmraw) %.2f \
s (cpu %.2f s); the two are %.2f of the app'"'"'s time\n", label, cw, cc, rw, rc, (cw + rw) / w }'
}
parts "photo PDF, the app's two gs runs alone" photo
parts "text PDF, the app's two gs runs alone" text
echo "server memory: idle VmRSS $((idle_rss / 1024)) MB (VmHWM $((idle_hwm / 1024)) MB);" \
  "VmHWM after the 720 dpi jobs $((peak_hwm / 1024)) MB, $(((peak_hwm - idle_rss) / 1024)) MB" \
  "above idle"
