#!/usr/bin/env bash
# Installs the Debian packages that are missing for what you are about to do.
# As root it installs them; otherwise it names them and stops.
#   tools/install-deps.sh            building and running the programs
#   tools/install-deps.sh test       ... and the tests, benchmarks, fuzzing and the look-and-measure tools
#   tools/install-deps.sh package    ... and making and checking the Debian package
# Groups combine: "tools/install-deps.sh test package".
set -euo pipefail

# Qt Charts draws the trend and the capture viewer; its CMake files look for
# Qt's OpenGL modules, which Debian's qt6-charts-dev does not pull in itself.
packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
  qt6-charts-dev libqt6opengl6-dev qt6-svg-dev
)
for group in "$@"; do
  case "$group" in
    test)
      packages+=(
        libgtest-dev libgmock-dev libbenchmark-dev clang-format python3
        clang libclang-rt-14-dev
        xvfb xauth x11-apps x11-utils xdotool imagemagick socat picocom fonts-dejavu-core
      ) ;;
    # dpkg-shlibdeps (dpkg-dev) and file work out the package's dependencies;
    # lintian, appstreamcli and desktop-file-validate check the package.
    package) packages+=(dpkg-dev file lintian appstream desktop-file-utils) ;;
    *) echo "install-deps.sh: unknown group \"$group\" (test, package)" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing Debian packages: ${missing[*]}" >&2
  echo "Install them as root with: apt-get install ${missing[*]}" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
