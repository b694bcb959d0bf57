#!/usr/bin/env bash
# Checks the Debian package as a user would get it: unpacked into a scratch root, its
# imbrix-batch converts a picture and its window starts (offscreen); lintian finds no errors;
# the desktop entry and AppStream file validate. Usage: check_package.sh [PACKAGE.deb]
set -euo pipefail
cd "$(dirname "$0")/.."

deb=${1:-}
if [ -z "$deb" ]; then
  debs=(build/imbrix_*.deb)
  deb=${debs[-1]}
fi
if [ ! -f "$deb" ]; then
  echo "check_package: no package at $deb (make package builds it)" >&2
  exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
dpkg-deb -x "$deb" "$root"
failed=0
fail() { echo "check_package: $*" >&2; failed=1; }

# Everything the package promises is there.
for f in usr/bin/imbrix usr/bin/imbrix-batch usr/share/applications/imbrix.desktop \
         usr/share/icons/hicolor/scalable/apps/imbrix.svg usr/share/icons/hicolor/48x48/apps/imbrix.png \
         usr/share/metainfo/org.imbrix.Imbrix.metainfo.xml usr/share/man/man1/imbrix.1.gz \
         usr/share/man/man1/imbrix-batch.1.gz usr/share/doc/imbrix/copyright usr/share/doc/imbrix/changelog.gz; do
  [ -e "$root/$f" ] || fail "missing /$f"
done

# imbrix-batch: a 64 x 48 picture halved to 32 x 24.
mkdir -p "$work/in" "$work/out"
/usr/bin/python3 -c "
from PIL import Image
Image.new('RGB', (64, 48), (200, 40, 90)).save('$work/in/red.bmp')"
"$root/usr/bin/imbrix-batch" --version | head -1
if out=$("$root/usr/bin/imbrix-batch" -s half -t bmp -o "$work/out" "$work/in/red.bmp"); then
  size=$(/usr/bin/python3 -c "from PIL import Image; import sys; print('%dx%d' % Image.open(sys.argv[1]).size)" "$out")
  [ "$size" = "32x24" ] || fail "imbrix-batch made $size, not 32x24"
else
  fail "imbrix-batch failed"
fi

# imbrix-batch opens its metafile player, installed under the library folder, on the first
# metafile; libheif, opened on the first HEIF picture, is named among the dependencies.
if out=$("$root/usr/bin/imbrix-batch" -s full -t bmp -o "$work/out" fuzz/corpus/read_wmf/placeable.wmf); then
  [ -s "$out" ] || fail "imbrix-batch wrote no picture for a metafile"
else
  fail "imbrix-batch could not draw a metafile"
fi
dpkg-deb -f "$deb" Depends | grep -q 'libheif1' || fail "the package does not depend on libheif1"

# The window: still running after 3 seconds means it started (timeout then ends it, 124).
# Meanwhile "imbrix FILE" hands its file to it and ends at once. A runtime folder of its
# own keeps both away from a window the user may have open.
mkdir -m 700 "$work/runtime"
export XDG_RUNTIME_DIR=$work/runtime
set +e
XDG_CONFIG_HOME=$work/config QT_QPA_PLATFORM=offscreen timeout 4 "$root/usr/bin/imbrix" >"$work/window.log" 2>&1 &
window=$!
sleep 1.5
XDG_CONFIG_HOME=$work/config QT_QPA_PLATFORM=offscreen timeout 5 "$root/usr/bin/imbrix" "$work/in/red.bmp" >"$work/second.log" 2>&1
second=$?
wait $window
rc=$?
set -e
if [ $rc -ne 124 ]; then
  cat "$work/window.log" >&2
  fail "the window exited with status $rc instead of running"
fi
if [ $second -ne 0 ]; then
  cat "$work/second.log" >&2
  fail "a second imbrix did not hand its file to the open window (status $second)"
fi

appstreamcli validate --no-net "$root/usr/share/metainfo/org.imbrix.Imbrix.metainfo.xml" >/dev/null ||
  fail "appstreamcli validate failed"
desktop-file-validate "$root/usr/share/applications/imbrix.desktop" || fail "desktop-file-validate failed"

# lintian: information and warnings are shown, errors fail.
lintian --tag-display-limit 0 "$deb" 2>&1 | grep -v 'running with root privileges' | tee "$work/lintian.log" || true
if grep -q '^E: ' "$work/lintian.log"; then fail "lintian reports errors"; fi

[ $failed -eq 0 ] && echo "check_package: $deb is fine"
exit $failed
