#!/bin/sh
# Checks what administrators install: `cmake --install` and the Debian
# packages built by `cpack -G DEB` hold the filters, the man pages, the
# examples, the copyright and changelog; the packaged filter, stripped, still
# exports its global names; lintian finds no error in any package; the man
# pages render without warnings; and the printcap shown in doc/lpd.md and in
# ravofilter(8) is examples/printcap.
#
# Usage: package_test.sh BUILD-DIR SOURCE-DIR
set -u
LC_ALL=C
export LC_ALL

build=$(realpath "${1:?usage: package_test.sh BUILD-DIR SOURCE-DIR}")
source=$(realpath "${2:?usage: package_test.sh BUILD-DIR SOURCE-DIR}")
work=$(mktemp -d "${TMPDIR:-/tmp}/ravo-package-XXXXXX")
trap 'rm -rf "$work"' EXIT

passed=0
failed=0
pass() { passed=$((passed + 1)); }
fail() { echo "FAILED: $*"; failed=$((failed + 1)); }
expect() { # LABEL EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then pass; else fail "$1: expected '$2', got '$3'"; fi
}

lpd_files="libexec/filters/ravofilter
sbin/ravocheck
share/doc/ravo/README.md
share/doc/ravo/changelog.gz
share/doc/ravo/copyright
share/doc/ravo/examples/printcap
share/doc/ravo/examples/ravorc
share/doc/ravo/examples/testpage.ps
share/man/man5/ravorc.5.gz
share/man/man8/ravocheck.8.gz
share/man/man8/ravofilter.8.gz"
cups_files="lib/cups/filter/pstoravo
share/doc/printer-driver-ravo/changelog.gz
share/doc/printer-driver-ravo/copyright
share/man/man8/pstoravo.8.gz
share/ppd/ravo/marven-jetto-412_519.ppd"
app_files="bin/ravo-printer-app
lib/pam.d/ravo-printer-app
lib/systemd/system/ravo-printer-app.service
share/doc/ravo-printer-app/changelog.gz
share/doc/ravo-printer-app/copyright
share/man/man1/ravo-printer-app.1.gz"

# cmake --install
if cmake --install "$build" --prefix "$work/prefix" >"$work/install.log" 2>&1; then
  expect "installed files" "$(printf '%s\n%s\n%s\n' "$lpd_files" "$cups_files" "$app_files" | sort)" "$(cd "$work/prefix" && find . -type f | sed 's|^\./||' | sort)"
  sh "$source/tests/symbols.sh" "$work/prefix/libexec/filters/ravofilter" >/dev/null &&
    pass || fail "the installed filter lacks global names (stripped?)"
else
  fail "cmake --install: $(cat "$work/install.log")"
fi

# cpack -G DEB
if (cd "$build" && cpack -G DEB -B "$work/package") >"$work/cpack.log" 2>&1; then
  # PACKAGE DEPENDS SUMMARY FILES
  check_package() {
    deb=$(ls "$work"/package/"$1"_*.deb)
    # A sanitized build adds its runtimes, and libcrypt for PAM under them.
    expect "$1 dependencies" "$2" "$(dpkg-deb -f "$deb" Depends | sed 's/ ([^)]*)//g' |
      tr ',' '\n' | sed 's/^ *//' | grep -Ev '^lib(asan|ubsan|gcc-s|stdc\+\+|crypt1)' | paste -sd, |
      sed 's/,/, /g')"
    expect "$1 summary" "$3" "$(dpkg-deb -f "$deb" Description | head -n 1)"
    expect "$1 files" "$(echo "$4" | sed 's|^|usr/|')" \
      "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./||' | sort)"
  }
  check_package printer-driver-ravo "ghostscript, cups-core-drivers, cups-filters, libc6, libcups2, zlib1g" \
    "CUPS driver for the Marven Jetto 412_519" "$cups_files"
  check_package ravo-printer-app \
    "ghostscript, libc6, libcups2, libjpeg62-turbo, libpam0g, libpappl1, libpng16-16, zlib1g" \
    "IPP Everywhere Printer Application for the Marven Jetto 412_519" "$app_files"
  check_package ravo "ghostscript, libc6" "print filter for the Marven Jetto 412_519" "$lpd_files"
  dpkg-deb -x "$deb" "$work/unpacked"
  sh "$source/tests/symbols.sh" "$work/unpacked/usr/libexec/filters/ravofilter" --stripped \
    >/dev/null && pass || fail "the packaged filter does not export its global names"
  expect "changelog version" "$(dpkg-deb -f "$deb" Version)" \
    "$(zcat "$work/unpacked/usr/share/doc/ravo/changelog.gz" | sed -n '1s/.*(\(.*\)).*/\1/p')"
  if lintian --fail-on error "$work"/package/*.deb >"$work/lintian.log" 2>&1; then
    pass
  else
    fail "lintian: $(grep -v '^running with root' "$work/lintian.log")"
  fi
else
  fail "cpack -G DEB: $(cat "$work/cpack.log")"
fi

# The man pages render cleanly.
for page in "$source"/man/*.[0-9]; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
  expect "warnings from $(basename "$page")" "" "$warnings"
done

# One printcap everywhere: every line of the example, tabs and all, stands in
# doc/lpd.md and (with roff's escaped backslashes) in the man page.
while IFS= read -r line; do
  case $line in '#'* | '') continue ;; esac
  grep -qxF "$line" "$source/doc/lpd.md" ||
    fail "doc/lpd.md lacks the printcap line '$line'"
  roff=$(printf '%s\n' "$line" | sed 's/\\/\\e/g')
  grep -qxF "$roff" "$source/man/ravofilter.8" ||
    fail "ravofilter.8 lacks the printcap line '$line'"
done <"$source/examples/printcap"

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
