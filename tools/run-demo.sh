#!/usr/bin/env bash
# The main job: installs what is missing, builds, starts the demo attendance service on an
# embedded SQLite database (created and seeded on the first run) and opens the panel.
# Log in with server 127.0.0.1, port 50051 (or $VORNA_DEMO_PORT), user "manager",
# password "vorna-demo". Closing the panel stops the service.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# Its own build folder with only what it runs: the panel, the service and their libraries.
build=${VORNA_DEMO_BUILD_DIR:-$root/build-demo}
port=${VORNA_DEMO_PORT:-50051}
data=${XDG_DATA_HOME:-$HOME/.local/share}/vorna-service
db=$data/demo.db

"$root/tools/bootstrap.sh"
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release \
        -DVORNA_BUILD_TESTS=OFF -DVORNA_BUILD_BENCH=OFF -DVORNA_BUILD_TOOLS=OFF
fi
cmake --build "$build" -j "$(nproc)" --target vornapanel vorna-service

service=$build/service/vorna-service
panel=$build/app/vornapanel

mkdir -p "$data"
# init is safe to repeat: it applies missing migrations. demo seeds only a database without
# employees (it refuses one that holds anything), so a seeded one is left alone.
"$service" init --database "$db"
if "$service" info --database "$db" | grep -Eq '^Employees: +0$'; then
  "$service" demo --database "$db"
fi

log=$data/demo-service.log
"$service" serve --database "$db" --listen "127.0.0.1:$port" >"$log" 2>&1 &
service_pid=$!
trap 'kill "$service_pid" 2>/dev/null; wait "$service_pid" 2>/dev/null' EXIT

for _ in $(seq 1 300); do
  grep -q "listening on" "$log" && break
  kill -0 "$service_pid" 2>/dev/null || { cat "$log" >&2; echo "run-demo: the service did not start (see above)." >&2; exit 1; }
  sleep 0.1
done
grep -q "listening on" "$log" || { cat "$log" >&2; echo "run-demo: the service did not start listening within 30 s." >&2; exit 1; }
echo "run-demo: the service listens on 127.0.0.1:$port (log: $log)"
echo "run-demo: log in as user 'manager' with password 'vorna-demo'"

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "run-demo: no display; opening the panel on a virtual one (xvfb-run)"
  xvfb-run -a "$panel"
else
  "$panel"
fi
