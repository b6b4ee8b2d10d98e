#!/usr/bin/env bash
# Builds both Debian packages with tools/package.sh (a Release folder of its own) and checks
# what an operator installs: each package's files, its dependencies as dpkg-shlibdeps found
# them, its maintainer scripts and conffile, and lintian's verdict (errors fail; warnings are
# printed).
#   packages.sh SOURCE_DIR VERSION
set -euo pipefail
source_dir=$1
version=$2
arch=$(dpkg --print-architecture)
fail() { echo "FAIL: $*" >&2; exit 1; }

out=$("$source_dir/tools/package.sh" | tail -n 2)
panel=$(sed -n 1p <<<"$out")
service=$(sed -n 2p <<<"$out")
[ "$(basename "$panel")" = "vornapanel_${version}_${arch}.deb" ] || fail "panel package path: $panel"
[ "$(basename "$service")" = "vorna-service_${version}_${arch}.deb" ] || fail "service package path: $service"

# has_files DEB PATH... : every PATH is in the package.
has_files() {
  local deb=$1; shift
  local list; list=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|')
  for path in "$@"; do
    grep -qx "$path" <<<"$list" || fail "$(basename "$deb") lacks $path"
  done
  echo "$list"
}
# depends_on DEB PACKAGE... : the Depends field names every PACKAGE.
depends_on() {
  local deb=$1; shift
  local depends; depends=$(dpkg-deb -f "$deb" Depends)
  # One package name a line, versions and alternatives' bars dropped.
  local names; names=$(tr ',|' '\n\n' <<<"$depends" | sed 's/^ *//; s/ .*//')
  for package in "$@"; do
    grep -qxF "$package" <<<"$names" || fail "$(basename "$deb") does not depend on $package: $depends"
  done
}

lib=/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/vornapanel
panel_files=$(has_files "$panel" /usr/bin/vornapanel "$lib/libHarrow.so" "$lib/libOstrel.so" "$lib/libPindle.so" \
  /usr/share/applications/vornapanel.desktop /usr/share/metainfo/rs.quorvane.vornapanel.metainfo.xml \
  /usr/share/icons/hicolor/48x48/apps/vornapanel.png /usr/share/icons/hicolor/128x128/apps/vornapanel.png \
  /usr/share/icons/hicolor/256x256/apps/vornapanel.png /usr/share/icons/hicolor/scalable/apps/vornapanel.svg \
  /usr/share/doc/vornapanel/copyright /usr/share/doc/vornapanel/changelog.gz)
service_files=$(has_files "$service" /usr/bin/vorna-service /lib/systemd/system/vorna-service.service \
  /usr/lib/sysusers.d/vorna-service.conf /etc/vorna-service/service.conf \
  /usr/share/doc/vorna-service/copyright /usr/share/doc/vorna-service/changelog.gz)
# Each package carries its own files only.
if grep -q "vorna-service" <<<"$panel_files"; then fail "the panel package carries service files"; fi
if grep -q "vornapanel" <<<"$service_files"; then fail "the service package carries panel files"; fi

# Found by dpkg-shlibdeps in the binaries; the run-time plugins are named by hand.
depends_on "$panel" libqt5core5a libqt5quick5 libqt5keychain1 libgrpc++1.51 qml-module-qtquick-controls2
depends_on "$service" libqt5core5a libqt5sql5 libgrpc++1.51 libsodium23 libpq5 libqt5sql5-sqlite libqt5sql5-psql
if grep -q "libgrpc++-dev\|vornapanel" <<<"$(dpkg-deb -f "$panel" Depends)"; then fail "the panel depends on a build or a private package"; fi

# The service's conffile and maintainer scripts.
control=$(mktemp -d)
trap 'rm -rf "$control"' EXIT
dpkg-deb -e "$service" "$control"
[ "$(cat "$control/conffiles")" = "/etc/vorna-service/service.conf" ] || fail "conffiles: $(cat "$control/conffiles")"
for script in postinst prerm postrm; do
  [ -x "$control/$script" ] || fail "the service package has no executable $script"
  sh -n "$control/$script" || fail "$script does not parse"
done
grep -qx "config=/etc/vorna-service/service.conf" "$control/postinst" \
  && grep -qF 'vorna-service init --config "$config"' "$control/postinst" \
  || fail "postinst does not initialise the database from the shipped configuration"

# The configuration may hold the database's password: never readable by everyone.
config_mode=$(dpkg-deb -c "$service" | awk '$6 == "./etc/vorna-service/service.conf" {print $1}')
[ "$config_mode" = "-rw-r-----" ] || fail "service.conf is shipped as $config_mode, not -rw-r-----"

# The postinst's steps and their order, with stand-ins for the commands that would change
# this machine: each records its call (dpkg-statoverride finds no override). It runs on a copy
# of the configuration here. A failed init must fail the configuration.
stubs=$control/stubs
mkdir "$stubs"
for command in systemd-sysusers chown chmod install runuser deb-systemd-helper deb-systemd-invoke systemctl; do
  printf '#!/bin/sh\necho "%s $*" >>"%s/calls"\n' "$command" "$control" >"$stubs/$command"
  chmod +x "$stubs/$command"
done
printf '#!/bin/sh\necho "dpkg-statoverride $*" >>"%s/calls"\nexit 1\n' "$control" >"$stubs/dpkg-statoverride"
chmod +x "$stubs/dpkg-statoverride"
config=$control/service.conf
touch "$config"
sed "s|^config=.*|config=$config|" "$control/postinst" >"$control/postinst-here"
PATH=$stubs:$PATH sh "$control/postinst-here" configure "" || fail "postinst configure failed"
steps=$(cut -d' ' -f1 "$control/calls" | uniq | tr '\n' ' ')
# (systemctl and deb-systemd-invoke follow only where systemd runs.)
case "$steps" in
  "systemd-sysusers dpkg-statoverride chown chmod install runuser deb-systemd-helper "*) ;;
  *) fail "postinst steps: $steps" ;;
esac
grep -qx "chown root:vorna $config" "$control/calls" && grep -qx "chmod 0640 $config" "$control/calls" \
  || fail "postinst leaves the configuration's owner or mode: $(grep 'chown\|chmod' "$control/calls")"
grep -qx "runuser -u vorna -- /usr/bin/vorna-service init --config $config" "$control/calls" \
  || fail "postinst runs init otherwise: $(grep runuser "$control/calls")"
printf '#!/bin/sh\nexit 1\n' >"$stubs/runuser"
if PATH=$stubs:$PATH sh "$control/postinst-here" configure "" 2>"$control/err"; then fail "postinst ignores a failed init"; fi
grep -q "could not create or upgrade the database" "$control/err" || fail "postinst's failure text: $(cat "$control/err")"

if command -v lintian >/dev/null; then
  for deb in "$panel" "$service"; do
    verdict=$(lintian --tag-display-limit 0 "$deb" 2>/dev/null || true)
    [ -z "$verdict" ] || echo "$verdict"
    if grep -q "^E:" <<<"$verdict"; then fail "lintian reports errors on $(basename "$deb")"; fi
  done
fi
echo "packages checked: $panel $service"
