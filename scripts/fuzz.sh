#!/usr/bin/env bash
# Builds the libFuzzer programs (clang, AddressSanitizer, UndefinedBehaviorSanitizer)
# and fuzzes every target for the given number of seconds (default 60), all
# targets at once. Each run starts from a scratch copy of the committed seed
# corpus, so the committed corpus stays as it is; an input that crashes is left
# in build-fuzz/findings/. Exits non-zero on any finding. Installs clang-19 and
# its runtime when missing.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
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
  -DCMAKE_C_COMPILER=clang-19 -DCMAKE_CXX_COMPILER=clang++-19 >/dev/null
# The largest input of each target worth trying.
declare -A max_len=([kv_codec]=4096 [json_map]=4096 [group]=1024 [records]=2048 [sym]=2048
                    [decrypt_msg]=8192 [encrypt_msg]=4096 [field]=64)
targets=()
for target in "${!max_len[@]}"; do targets+=("${target}_fuzzer"); done
cmake --build "$dir" -j "$(nproc)" --target "${targets[@]}"
rm -rf "$dir/findings" "$dir/work"
mkdir -p "$dir/findings"
pids=()
for target in "${!max_len[@]}"; do
  mkdir -p "$dir/work/$target"
  cp -r "fuzz/corpus/$target/." "$dir/work/$target/"
  "$dir/fuzz/${target}_fuzzer" "$dir/work/$target" -max_total_time="$seconds" \
    -max_len="${max_len[$target]}" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$dir/findings/${target}-" >"$dir/findings/$target.log" 2>&1 &
  pids+=("$!:$target")
done

failed=0
for entry in "${pids[@]}"; do
  pid=${entry%%:*} target=${entry#*:}
  if wait "$pid"; then
    echo "fuzz $target: $(grep -E '^#[0-9]+.*(DONE|pulse)' "$dir/findings/$target.log" | tail -1)"
  else
    echo "fuzz $target: FINDING, see $dir/findings/$target.log"
    tail -40 "$dir/findings/$target.log"
    failed=1
  fi
done
exit "$failed"
