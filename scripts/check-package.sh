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
for file in ./usr/bin/tarquel ./usr/bin/tarquel-report ./usr/share/applications/tarquel.desktop \
            ./usr/share/icons/hicolor/scalable/apps/tarquel.svg ./usr/share/tarquel/examples/step1.wav \
            ./usr/share/doc/tarquel/README.md ./usr/share/doc/tarquel/docs/data-files.md \
            ./usr/share/doc/tarquel/docs/running-a-lab.md ./usr/share/doc/tarquel/docs/audio-timing.md \
            ./usr/share/doc/tarquel/docs/developers.md ./usr/share/doc/tarquel/docs/group-report.png; do
  grep -q " $file\$" <<<"$contents" || { echo "missing from $deb: $file" >&2; status=1; }
done
depends=$(dpkg-deb -f "$deb" Depends)
# The audio engines and the answer-timing reader.
for library in libpulse libpipewire libxi; do
  grep -q "$library" <<<"$depends" || { echo "no $library among the dependencies: $depends" >&2; status=1; }
done
# tarquel-report draws its figure through Qt Svg.
grep -q "svg" <<<"$depends" || { echo "no Qt Svg among the dependencies: $depends" >&2; status=1; }
# The report command runs from the package's files, without a display.
unpacked=$(mktemp -d)
dpkg-deb -x "$deb" "$unpacked"
env -u DISPLAY -u WAYLAND_DISPLAY "$unpacked/usr/bin/tarquel-report" --help | head -n 1 | grep -q "^Usage: tarquel-report" ||
  { echo "the packaged tarquel-report does not answer --help" >&2; status=1; }
rm -rf "$unpacked"
echo "$deb: $(du -h "$deb" | cut -f1); Depends: $depends"
exit $status
