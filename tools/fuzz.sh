#!/usr/bin/env bash
# Fuzzes every parser of outside input: builds the libFuzzer targets of tests/fuzz with clang,
# ASan and UBSan in a build folder of their own, runs each for MINUTES minutes (default 5), one
# after another, and merges the inputs that reach new code into the checked-in corpora, which
# CTest replays in normal builds. Findings (inputs that crash or break a property) are kept in
# <build>/fuzz-findings/<target>/ and are never merged; the script then exits 1.
#
#   tools/fuzz.sh [MINUTES]        VORNA_FUZZ_BUILD_DIR overrides the build folder (build-fuzz)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
minutes=${1:-5}
if ! [[ $minutes =~ ^[1-9][0-9]*$ ]]; then
  echo "Usage: $0 [MINUTES]  (a whole number of minutes per target, 5 when left out)" >&2
  exit 2
fi
build=${VORNA_FUZZ_BUILD_DIR:-$root/build-fuzz}
export LANG=${LANG:-C.UTF-8}

# clang and its libFuzzer runtime: only fuzzing needs them, so the CI bootstrap leaves them out.
packages=(clang libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  echo "fuzz: installing ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
"$root/tools/bootstrap.sh"

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -G Ninja -C "$root/tests/fuzz/fuzzbuild.cmake" "${launcher[@]}" >/dev/null
cmake --build "$build" --target vorna_fuzz_targets -j"$(nproc)"

# Inputs stay small: the parsers read short texts, 20 bytes of civil time, or one message.
max_len() {
  case $1 in
    fuzz_civiltime_*) echo 20 ;;
    fuzz_request*) echo 4096 ;;
    *) echo 256 ;;
  esac
}

summary=()
status=0
for program in $(find "$build/tests/fuzz" -maxdepth 1 -type f -executable -name 'fuzz_*' | sort); do
  name=$(basename "$program")
  corpus=$root/tests/fuzz/corpus/$name
  work=$build/fuzz-work/$name
  findings=$build/fuzz-findings/$name
  log=$build/fuzz-logs/$name.log
  rm -rf "$work" "$findings"
  mkdir -p "$work" "$findings" "$(dirname "$log")" "$corpus"
  echo "== $name: fuzzing for $minutes min (log: $log)"
  # One process at a time that carries on after a finding, so the whole time is spent searching;
  # new inputs go to the scratch folder (the first one named), the corpus is only read.
  "$program" -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 \
    -max_total_time=$((minutes * 60)) -max_len="$(max_len "$name")" -timeout=10 \
    -artifact_prefix="$findings/" "$work" "$corpus" >"$log" 2>&1 || true
  before=$(find "$corpus" -type f | wc -l)
  "$program" -merge=1 -max_len="$(max_len "$name")" "$corpus" "$work" >>"$log" 2>&1
  after=$(find "$corpus" -type f | wc -l)
  count=$(find "$findings" -type f | wc -l)
  # Fork mode prints "... oom/timeout/crash: O/T/C time: Ss"; the first line with C > 0 dates the
  # first finding.
  first=$(sed -n 's#.*oom/timeout/crash: [0-9]*/[0-9]*/[1-9][0-9]* time: \([0-9]*\)s.*#\1#p' "$log" | head -n1)
  line="$name: $minutes min, $count findings${first:+ (first after ${first}s)}, corpus $before -> $after inputs"
  [ "$count" -eq 0 ] || status=1
  # The corpus must replay cleanly, or CTest would fail on it.
  if ! "$program" -runs=0 "$corpus" >>"$log" 2>&1; then
    line="$line; the corpus no longer replays cleanly, see $log"
    status=1
  fi
  summary+=("$line")
  echo "$line"
done

echo
echo "Summary:"
printf '  %s\n' "${summary[@]}"
exit $status
