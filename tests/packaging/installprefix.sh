#!/usr/bin/env bash
# Installs the build into a temporary prefix, moves the tree elsewhere (so nothing can lean on
# the build folder or on the first path), and runs both programs from there with a scrubbed
# library path. Then checks the installed systemd unit with systemd-analyze.
#   installprefix.sh BUILD_DIR VERSION
set -euo pipefail
build=$1
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/first" >/dev/null
mv "$work/first" "$work/prefix"
prefix=$work/prefix
unset LD_LIBRARY_PATH

# Every program and library resolves its own libraries inside the prefix, none in the build.
for binary in "$prefix"/bin/vornapanel "$prefix"/bin/vorna-service "$prefix"/lib*/vornapanel/*.so \
              "$prefix"/lib/*/vornapanel/*.so; do
  [ -e "$binary" ] || continue
  deps=$(ldd "$binary")
  if grep -q "not found" <<<"$deps"; then fail "$binary misses libraries: $(grep 'not found' <<<"$deps")"; fi
  if grep -qF "$build" <<<"$deps"; then fail "$binary loads libraries from the build folder"; fi
done
# (Captured first: grep -q may stop reading early, and pipefail would count ldd's broken pipe.)
panel_deps=$(ldd "$prefix/bin/vornapanel")
grep -q "libHarrow.so => $prefix/" <<<"$panel_deps" || fail "the panel does not take libHarrow.so from the prefix"

[ "$("$prefix/bin/vornapanel" --version)" = "vornapanel $version" ] || fail "vornapanel --version"
[ "$("$prefix/bin/vorna-service" --version)" = "vorna-service $version" ] || fail "vorna-service --version"
# The installed panel starts and loads its screens: still running when stopped, and no QML error.
status=0
HOME=$work XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software \
  timeout 5 "$prefix/bin/vornapanel" >"$work/panel.out" 2>&1 || status=$?
[ "$status" = 124 ] || fail "the installed panel stopped with $status: $(cat "$work/panel.out")"
if grep -E "qrc:/.*(Error|error|not installed|is not a type)" "$work/panel.out"; then fail "the installed panel's screens do not load"; fi
# The installed service finds its SQL driver and creates a database.
"$prefix/bin/vorna-service" init --database "$work/check.db" >/dev/null || fail "the installed service cannot create a database"

# The desktop integration the panel package carries.
for f in share/applications/vornapanel.desktop share/metainfo/rs.quorvane.vornapanel.metainfo.xml \
         share/icons/hicolor/48x48/apps/vornapanel.png share/icons/hicolor/128x128/apps/vornapanel.png \
         share/icons/hicolor/256x256/apps/vornapanel.png share/icons/hicolor/scalable/apps/vornapanel.svg; do
  [ -s "$prefix/$f" ] || fail "$f is not installed"
done
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$prefix/share/applications/vornapanel.desktop"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$prefix/share/metainfo/rs.quorvane.vornapanel.metainfo.xml" >/dev/null \
    || fail "the metainfo does not validate: $(appstreamcli validate --no-net "$prefix/share/metainfo/rs.quorvane.vornapanel.metainfo.xml")"
fi

# systemd-analyze needs the unit's program to exist: point ExecStart at the installed one.
if command -v systemd-analyze >/dev/null; then
  mkdir "$work/unit"
  unit=$(find "$prefix" -name vorna-service.service)
  sed "s|^ExecStart=[^ ]*|ExecStart=$prefix/bin/vorna-service|" "$unit" >"$work/unit/vorna-service.service"
  grep -q "^ExecStart=$prefix/bin/vorna-service serve --config " "$work/unit/vorna-service.service" \
    || fail "the unit does not start 'vorna-service serve --config'"
  # A line it cannot parse is only a warning to systemd-analyze; here any remark fails.
  remarks=$(systemd-analyze verify --man=no "$work/unit/vorna-service.service" 2>&1) \
    || fail "systemd-analyze verify: $remarks"
  [ -z "$remarks" ] || fail "systemd-analyze verify: $remarks"
fi
echo "installed, moved and ran from $prefix"
