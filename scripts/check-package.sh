#!/usr/bin/env bash
# Makes the Debian package in a Release build folder (default: build) and
# checks that it holds what a lab installs, with its dependencies filled in.
set -euo pipefail
build=${1:-build}
cd "$build"
rm -f tarquel_*.deb
cpack -G DEB >/dev/null
deb=$(ls tarquel_*.deb)
contents=$(dpkg-deb -c "$deb")
status=0
for file in ./usr/bin/tarquel ./usr/share/applications/tarquel.desktop \
            ./usr/share/icons/hicolor/scalable/apps/tarquel.svg ./usr/share/tarquel/examples/step1.wav \
            ./usr/share/doc/tarquel/README.md ./usr/share/doc/tarquel/docs/data-files.md; do
  grep -q " $file\$" <<<"$contents" || { echo "missing from $deb: $file" >&2; status=1; }
done
depends=$(dpkg-deb -f "$deb" Depends)
grep -q "libpulse" <<<"$depends" || { echo "no libpulse among the dependencies: $depends" >&2; status=1; }
echo "$deb: $(du -h "$deb" | cut -f1); Depends: $depends"
exit $status
