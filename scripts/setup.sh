#!/usr/bin/env bash
# Installs the Debian packages the program needs (Debian 12 and 13); with
# --package also what `cpack -G DEB` needs to make the Debian package, with
# --tests also what the tests and benchmarks need (the package's tools
# included), with --qt6 also Qt 6's. Only missing packages are installed, so
# a second run does nothing. Uses sudo when not run as root.
set -euo pipefail

packages=(
  cmake g++ make pkg-config ccache
  qtbase5-dev libqt5charts5-dev qtmultimedia5-dev libqt5multimedia5-plugins libqt5svg5-dev
  libpulse-dev pulseaudio pulseaudio-utils libpipewire-0.3-dev
  libx11-dev libxi-dev
)
# cpack's Debian generator reads the program's libraries with `file` and
# its dependencies with dpkg-shlibdeps.
package_tools=(dpkg-dev file)
for option in "$@"; do
  case $option in
  --package)
    packages+=("${package_tools[@]}")
    ;;
  --tests)
    # locales: the sources localedef makes a Latin-1 locale from.
    packages+=(
      sox espeak-ng xvfb xauth
      libxtst-dev x11-xkb-utils
      libbenchmark-dev libfftw3-dev libsndfile1-dev
      clang libclang-rt-dev
      locales
      "${package_tools[@]}"
      pipewire pipewire-bin pipewire-pulse wireplumber dbus
    )
    ;;
  --qt6)
    packages+=(qt6-base-dev qt6-charts-dev qt6-multimedia-dev qt6-svg-dev libqt6opengl6-dev libgl-dev)
    ;;
  *)
    echo "unknown option: $option" >&2
    exit 2
    ;;
  esac
done

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
