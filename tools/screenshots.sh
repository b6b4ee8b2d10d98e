#!/usr/bin/env bash
# Screenshots of the real panel for the README: starts the demo service on a throwaway SQLite
# database and walks the panel through its screens under a virtual display, in the light and
# dark themes, in English and Serbian, at 400x600 and (list and detail) at 1280x800.
# Takes about a minute. Writes docs/screenshots/<page>-<theme>-<language>[-1280x800].png, or
# into the folder given as the first argument. Build first (tools/build.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VORNA_BUILD_DIR:-$root/build}
out=${1:-$root/docs/screenshots}
service=$build/service/vorna-service
shooter=$build/tools/screenshots/vorna-screenshots

for program in "$service" "$shooter"; do
  if [ ! -x "$program" ]; then
    echo "screenshots: $program is missing. Build first: tools/build.sh (or set VORNA_BUILD_DIR)." >&2
    exit 1
  fi
done
command -v xvfb-run >/dev/null || { echo "screenshots: xvfb-run is missing. Run tools/bootstrap.sh." >&2; exit 1; }

work=$(mktemp -d)
service_pid=
cleanup() {
  if [ -n "$service_pid" ]; then
    kill "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

db=$work/demo.db
"$service" init --database "$db" >/dev/null 2>"$work/init.log" || { cat "$work/init.log" >&2; exit 1; }
"$service" demo --database "$db" --employees 60 >/dev/null 2>"$work/demo.log" || { cat "$work/demo.log" >&2; exit 1; }
# Port 0 lets the system pick a free one; VORNA_SCREENSHOT_PORT=50051 shows the README's port.
"$service" serve --database "$db" --listen "127.0.0.1:${VORNA_SCREENSHOT_PORT:-0}" >"$work/serve.out" 2>"$work/serve.log" &
service_pid=$!

address=
for _ in $(seq 1 100); do
  address=$(sed -n 's/^listening on //p' "$work/serve.out")
  [ -n "$address" ] && break
  kill -0 "$service_pid" 2>/dev/null || { cat "$work/serve.log" >&2; exit 1; }
  sleep 0.1
done
[ -n "$address" ] || { echo "screenshots: the demo service did not start listening; its log:" >&2; cat "$work/serve.log" >&2; exit 1; }
port=${address##*:}
echo "screenshots: the demo service listens on $address"

# The detail page shows the employee with the most exceptions this month, when sqlite3 can
# tell (days are numbered from 1970-01-01 in the service's database).
employee=()
if command -v sqlite3 >/dev/null; then
  month_start=$(( $(date -u -d "$(date +%Y-%m-01)" +%s) / 86400 ))
  chosen=$(sqlite3 "$db" "SELECT e.code FROM work_day_exceptions x JOIN employees e ON e.id = x.employee_id
    WHERE x.day >= $month_start AND x.day < $month_start + 31 GROUP BY e.code ORDER BY count(*) DESC, e.code LIMIT 1;" 2>/dev/null || true)
  [ -n "$chosen" ] && employee=(--employee "$chosen")
fi

mkdir -p "$out"
shoot() {
  xvfb-run -a -s "-screen 0 1920x1080x24" "$shooter" --port "$port" --out "$out" "${employee[@]}" "$@" \
    >>"$work/shots.log" 2>&1 || { echo "screenshots: the walk $* failed; its output:" >&2; tail -n 40 "$work/shots.log" >&2; exit 1; }
}
for theme in light dark; do
  for lang in en sr; do
    echo "screenshots: $theme theme, language $lang"
    shoot --theme "$theme" --lang "$lang" --size 400x600
    shoot --theme "$theme" --lang "$lang" --size 1280x800 --pages list,detail --suffix -1280x800
  done
done
echo "screenshots: $(find "$out" -name '*.png' | wc -l) pictures, $(du -sh "$out" | cut -f1) in $out"
