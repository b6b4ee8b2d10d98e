#!/usr/bin/env bash
# Set-up and every test on a fresh Debian 12 machine: installs the packages, builds, starts a
# throwaway PostgreSQL cluster on 127.0.0.1 for the tests that need one, and runs CTest under a
# virtual display (anything that renders needs one). VORNA_TEST_PACKAGES=0 leaves out the Debian
# package check.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# The tests handle names such as "Petrović": make sure the process speaks UTF-8.
export LANG=${LANG:-C.UTF-8}
build=${VORNA_BUILD_DIR:-$root/build}

"$root/tools/bootstrap.sh" packaging
"$root/tools/build.sh"

# shellcheck source=tools/pg-throwaway.sh
source "$root/tools/pg-throwaway.sh"
pg_throwaway_start
trap pg_throwaway_stop EXIT
export VORNA_TEST_PG
# The client library keeps pictures in the user's cache folder: the tests get a folder of their
# own, never the user's.
XDG_CACHE_HOME=$(mktemp -d /tmp/vorna-test-cache.XXXXXX)
export XDG_CACHE_HOME
trap 'pg_throwaway_stop; rm -rf "$XDG_CACHE_HOME"' EXIT

# The package check builds both packages in a Release folder of its own, minutes on a fresh
# machine; VORNA_TEST_PACKAGES=0 skips it for a quicker run.
skip=()
[ "${VORNA_TEST_PACKAGES:-1}" = 0 ] && skip=(-LE package)
cd "$build"
xvfb-run -a -s "-screen 0 1920x1080x24" ctest --output-on-failure --timeout 600 "${skip[@]}" "$@"
