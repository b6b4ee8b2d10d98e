#!/usr/bin/env bash
# Builds the Debian packages of the panel and the service into dist/:
#   vornapanel_VERSION_amd64.deb and vorna-service_VERSION_amd64.deb
# from a Release build of its own (build-package/, or $VORNA_PACKAGE_BUILD_DIR) without tests,
# benchmarks and tools, laid out under /usr. Their dependencies come from dpkg-shlibdeps.
# The last two lines printed are the packages' paths, panel first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VORNA_PACKAGE_BUILD_DIR:-$root/build-package}
dist=${VORNA_DIST_DIR:-$root/dist}

"$root/tools/bootstrap.sh" packaging >&2
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" "${generator[@]}" "${launcher[@]}" -DCMAKE_BUILD_TYPE=Release \
        -DVORNA_BUILD_TESTS=OFF -DVORNA_BUILD_BENCH=OFF -DVORNA_BUILD_TOOLS=OFF \
        -DCMAKE_INSTALL_PREFIX=/usr -DVORNA_SYSTEMD_UNITDIR=/lib/systemd/system >&2
fi
cmake --build "$build" -j "$(nproc)" >&2
(cd "$build" && cpack -G DEB >&2)

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
arch=$(dpkg --print-architecture)
mkdir -p "$dist"
for package in vornapanel vorna-service; do
  deb=${package}_${version}_${arch}.deb
  [ -f "$build/$deb" ] || { echo "package: CPack made no $deb in $build (see above)." >&2; exit 1; }
  cp "$build/$deb" "$dist/$deb"
done
echo "$dist/vornapanel_${version}_${arch}.deb"
echo "$dist/vorna-service_${version}_${arch}.deb"
