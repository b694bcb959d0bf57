#!/usr/bin/env bash
# Installs what building, running and testing Imbrix needs on Debian 12. Does nothing when
# everything is already there; uses sudo when not run as root.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libjpeg62-turbo-dev zlib1g-dev
  liblcms2-dev
  # HEIC/HEIF/AVIF (libheif with libde265, dav1d and aom built in on Debian 12) and WebP
  libheif-dev libwebp-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  # independent decoders and tools the tests compare against
  python3-pil imagemagick libjpeg-turbo-progs giflib-tools netpbm
  # heif-enc/heif-convert and cwebp/dwebp/img2webp/webpmux make and check HEIC, AVIF, WebP
  libheif-examples webp
  # libpng's checker for PNG results
  pngcheck
  # real-world PNG icons for the PNG reader's tests
  hicolor-icon-theme adwaita-icon-theme
  # a real X server for the window tests and screenshots
  xvfb xauth x11-utils xdotool
  # locale sources, to build a decimal-comma locale for the number-format test
  locales
  # libFuzzer harnesses
  clang libclang-rt-14-dev
  # a font for the metafile player's text (QtGui on the offscreen platform)
  fonts-dejavu-core
)
if [ "${1:-}" = "--bench" ]; then
  packages+=(libvips-tools hyperfine)
fi
if [ "${1:-}" = "--office" ]; then
  # LibreOffice without its windows: the metafile test of real WMF and EMF exports
  packages+=(libreoffice-draw-nogui)
fi
if [ "${1:-}" = "--package" ]; then
  # make package: the .deb, its icons, its checks
  packages+=(dpkg-dev fakeroot file lintian appstream desktop-file-utils librsvg2-bin)
fi

missing=()
for p in "${packages[@]}"; do
  case "$p" in \#*) continue ;; esac
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
