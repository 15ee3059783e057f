#!/usr/bin/env bash
# Builds the libFuzzer programs (clang-19, AddressSanitizer, UndefinedBehaviorSanitizer;
# leaks are findings too) in build-fuzz/ and fuzzes every target for the given
# number of seconds (default 60), up to FUZZ_JOBS targets at once (default: the
# number of cores). Each run starts from a scratch copy of the committed seed
# corpus in build-fuzz/work/<target>/, so the committed corpus stays as it is and
# new inputs are not committed. A crashing, leaking or hanging input is left in
# build-fuzz/findings/ next to each target's log. Prints libFuzzer's last status
# line of every target (executions, cov:, ft:, exec/s) and exits non-zero on any
# finding. Installs clang-19 and its runtime when missing.
#
#   bash scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
jobs=${FUZZ_JOBS:-$(nproc)}
bash scripts/deps.sh
missing=()
for p in clang-19 libclang-rt-19-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

dir=build-fuzz
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHIBE_FUZZ=ON -DHIBE_TESTS=OFF -DHIBE_BENCH=OFF \
  -DHIBE_SANITIZE=OFF -DHIBE_TSAN=OFF -DCMAKE_C_COMPILER=clang-19 -DCMAKE_CXX_COMPILER=clang++-19 >/dev/null
# The targets (fuzz/<target>_fuzz.cpp) and the largest input worth trying for each:
# the small decoders read at most a few records, the message functions a map of
# several entries.
targets=(kv_codec json_map group records sym decrypt_msg encrypt_msg field)
declare -A max_len=([kv_codec]=4096 [json_map]=4096 [group]=1024 [records]=4096 [sym]=4096
                    [decrypt_msg]=8192 [encrypt_msg]=8192 [field]=64)
cmake --build "$dir" -j "$(nproc)" --target fuzzers
rm -rf "$dir/findings" "$dir/work"
mkdir -p "$dir/findings" "$dir/work"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
running=0
for target in "${targets[@]}"; do
  if ((running >= jobs)); then
    wait -n || true
    running=$((running - 1))
  fi
  mkdir -p "$dir/work/$target"
  cp -r "fuzz/corpus/$target/." "$dir/work/$target/"
  (
    rc=0
    "$dir/fuzz/${target}_fuzzer" "$dir/work/$target" -max_total_time="$seconds" \
      -max_len="${max_len[$target]}" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
      -artifact_prefix="$dir/findings/${target}-" >"$dir/findings/$target.log" 2>&1 || rc=$?
    echo "$rc" >"$dir/work/$target.rc"
  ) &
  running=$((running + 1))
done
wait

failed=0
for target in "${targets[@]}"; do
  rc=$(cat "$dir/work/$target.rc" 2>/dev/null || echo missing)
  if [[ $rc == 0 ]]; then
    echo "fuzz $target: $(grep -E '^#[0-9]+' "$dir/findings/$target.log" | tail -1)"
  else
    echo "fuzz $target: FINDING (exit $rc), see $dir/findings/$target.log"
    tail -40 "$dir/findings/$target.log"
    failed=1
  fi
done
exit "$failed"
