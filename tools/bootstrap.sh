#!/usr/bin/env bash
# Installs every Debian package that building, testing, benchmarking and the demo need.
# Safe to run again: apt-get skips what is already there.
#   bootstrap.sh            what building and running need (tools/run-demo.sh)
#   bootstrap.sh packaging  that, and the tools that make and check the Debian packages
#                           (tools/package.sh, tools/test.sh)
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake pkg-config git
  # Qt 5.15: core, quick, controls 2, translations, SQL drivers for the service
  qtbase5-dev qtdeclarative5-dev qtquickcontrols2-5-dev qttools5-dev qttools5-dev-tools
  qtdeclarative5-dev-tools libqt5sql5-sqlite libqt5sql5-psql
  # QML modules the screens import
  qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qtquick-layouts
  qml-module-qtquick-controls2 qml-module-qtquick-templates2 qml-module-qtquick-controls
  qml-module-qtquick-dialogs qml-module-qtquick-privatewidgets qml-module-qt-labs-settings
  qml-module-qt-labs-calendar qml-module-qttest qml-module-qtqml-models2
  # wire protocol; OpenSSL checks the service's TLS files; nghttp2 frames the rapid-reset bench
  libgrpc++-dev libprotobuf-dev protobuf-compiler protobuf-compiler-grpc libssl-dev libnghttp2-dev
  # service operations: readiness for systemd, the metrics endpoint, online SQLite backups
  libsystemd-dev libcpp-httplib-dev libsqlite3-dev
  # password hashing, log rotation, the desktop's secret store for the saved password
  libsodium-dev libspdlog-dev libfmt-dev qtkeychain-qt5-dev
  # databases used by the service and its tests
  sqlite3 postgresql postgresql-contrib
  # rendering under a virtual display
  xvfb xauth libgl1-mesa-dri fonts-dejavu-core
  # test certificates for the service's TLS test
  openssl
  # the service's storage reads PostgreSQL connection strings with libpq itself
  libpq-dev
  # ICU collation keys give employees one name order on SQLite and PostgreSQL
  libicu-dev
  # the icon generator writes the program's icon as SVG too
  libqt5svg5-dev
  # the service tells systemd when it is ready (sd_notify)
  libsystemd-dev
  # sets one service instance's clock apart from another's in the clock-skew test
  libfaketime
)
if [ "${1:-}" = packaging ]; then
  # dpkg-shlibdeps for CPack, lintian, systemd-analyze for the unit, the desktop entry's and
  # the metainfo's validators
  packages+=(dpkg-dev lintian systemd desktop-file-utils appstream)
fi

# One query for all of them: a later demo run must start within a second or two.
installed=$(dpkg-query -W -f='${Package} ${Status}\n' "${packages[@]}" 2>/dev/null \
            | awk '/ install ok installed$/ {print $1}' || true)
missing=()
for p in "${packages[@]}"; do
  grep -qxF "$p" <<<"$installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "bootstrap: all ${#packages[@]} packages are installed."
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
echo "bootstrap: installing ${#missing[@]} packages: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
