#!/usr/bin/env bash
# Runs every benchmark program (build/bench/*/bench_*) and prints their figures as one table.
# Needs a build (tools/build.sh). Rendering benchmarks run under xvfb-run; PostgreSQL figures
# use a throwaway cluster. Pass program names to run only those. bench_panel_reload seeds its
# 10,000- and 100,000-employee databases once (minutes) and keeps them in its build folder;
# bench_panel_photos writes 10,000 photos once (about an hour on two cores) and imports them,
# keeping both in bench/photo-organisation of the build, where `bench_load --photos 10000`
# finds them too (run that one by hand: it is not among the defaults here).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VORNA_BUILD_DIR:-$root/build}

source "$root/tools/pg-throwaway.sh"
pg_throwaway_start >/dev/null
trap pg_throwaway_stop EXIT
export VORNA_TEST_PG

results=$(mktemp)
for program in $(find "$build/bench" -type f -executable -name 'bench_*' | sort); do
  name=$(basename "$program")
  if [ $# -gt 0 ] && ! printf '%s\n' "$@" | grep -qx "$name"; then continue; fi
  echo "== $name" >&2
  xvfb-run -a -s "-screen 0 1920x1080x24" "$program" 2>&1 | tee /dev/stderr | grep '^BENCH ' >>"$results" || true
done

printf '\n| figure | median | min | max | ratio | target |\n|---|---|---|---|---|---|\n'
while read -r _ name rest; do
  get() { sed -n "s/.*\b$1=\([^ ]*\).*/\1/p" <<<"$rest"; }
  target=$(sed -n 's/.*target=\(.*\)$/\1/p' <<<"$rest")
  printf '| %s | %s | %s | %s | %s | %s |\n' "$name" "$(get median)" "$(get min)" "$(get max)" "$(get ratio)" "$target"
done <"$results"
rm -f "$results"
