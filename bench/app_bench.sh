#!/bin/sh
# Times a photo PDF through the Printer Application's real server, from
# submission to completion, against the same gs command run directly, and
# checks nothing: A4 at 360 dpi from a PDF holding a 4000 x 3000 JPEG photo
# (0.9 MB), on the same file; medians of alternating runs.
#
# Usage: app_bench.sh APP PNG-INFO EXAMPLES-DIR [RUNS]   (9 by default)
# The server runs as tests/app_server.sh says.
set -eu

usage="usage: app_bench.sh APP PNG-INFO EXAMPLES-DIR [RUNS]"
log_level=info
. "$(dirname "$0")/../tests/app_server.sh"
runs=${1:-9}

gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpeg -r72 -g4000x3000 -sOutputFile="$in/photo.jpg" -c \
  '<< /ShadingType 2 /ColorSpace /DeviceRGB /Coords [0 0 0 3000] /Function << /FunctionType 2
  /Domain [0 1] /C0 [0.9 0.6 0.3] /C1 [0.2 0.4 0.9] /N 1 >> >> shfill 1 srand
  /r { rand 2147483647 div } def 3000 { r r r setrgbcolor r 4000 mul r 3000 mul r r mul 150 mul
  0 360 arc fill } repeat showpage'
gs -q -dSAFER --permit-file-read="$in/" -dBATCH -dNOPAUSE -sDEVICE=pdfwrite \
  -sOutputFile="$in/photo.pdf" -c "<< /PageSize [595 842] >> setpagedevice gsave 20 240 translate
  555 416 scale /DeviceRGB setcolorspace << /ImageType 1 /Width 4000 /Height 3000
  /BitsPerComponent 8 /Decode [0 1 0 1 0 1] /ImageMatrix [4000 0 0 -3000 0 3000]
  /DataSource ($in/photo.jpg) (r) file /DCTDecode filter >> image grestore showpage"
direct() {
  as_nobody gs -r360 -g2976x4209 -q -dNOPROMPT -dNOPAUSE -dBATCH -dSAFER -sstdout=%stderr \
    -sDEVICE=png16m -sOutputFile="$work/out/direct.png" "$in/photo.pdf" 2>/dev/null
}
direct
echo "warm-up: $(job warm-up "$in/photo.pdf") through the app," \
  "$("$png_info" "$work/out/direct.png") from gs"
for run in $(seq "$runs"); do
  for side in $([ $((run % 2)) = 0 ] && echo app gs || echo gs app); do
    start=$(date +%s.%N)
    if [ "$side" = app ]; then submit "photo-$run" "$in/photo.pdf"; else direct; fi
    awk -v end="$(date +%s.%N)" -v start="$start" 'BEGIN { print end - start }' >>"$work/$side"
  done
done
# Each side's median, and its fastest run, which a busy machine disturbs least.
stats() {
  sort -n "$work/$1" |
    awk '{ v[NR] = $1 } END { print (v[int((NR + 1) / 2)] + v[int(NR / 2) + 1]) / 2, v[1] }'
}
echo "$(stats app) $(stats gs)" | awk -v runs="$runs" '{ printf "photo PDF, A4 at 360 dpi, \
%d runs each: app %.3f s, gs run directly %.3f s, ratio %.3f; fastest %.3f s and %.3f s, \
ratio %.3f\n", runs, $1, $3, $1 / $3, $2, $4, $2 / $4 }'
