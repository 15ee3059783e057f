#!/usr/bin/env bash
# Installs the built library into a scratch prefix and builds the README's first
# program against it twice, as a host project would: with pkg-config and with
# find_package(hibe). Each program runs in an empty directory of its own (set up,
# derive a key, encrypt, decrypt) and must print the message.
#
#   consumer_test.sh BUILD-DIR SOURCE-DIR SCRATCH-DIR C-COMPILER
set -euo pipefail
build=$1 source=$2 scratch=$3 cc=$4
rm -rf "$scratch"
mkdir -p "$scratch"
prefix=$scratch/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
libdir=$(pkg-config --variable=libdir hibe)

# Exactly the interface is installed, and the object answers to its SONAME.
(cd "$prefix" && find . -type f -o -type l | sed 's/hibeTargets-[a-z]*[.]/hibeTargets-CONFIG./' | sort) \
  >"$scratch/installed"
diff -u - "$scratch/installed" <<'LIST'
./include/hibe/hibe.h
./include/hibe/hibe_list.h
./lib/cmake/hibe/hibeConfig.cmake
./lib/cmake/hibe/hibeConfigVersion.cmake
./lib/cmake/hibe/hibeTargets-CONFIG.cmake
./lib/cmake/hibe/hibeTargets.cmake
./lib/libhibe.so
./lib/libhibe.so.0
./lib/libhibe.so.0.1.0
./lib/pkgconfig/hibe.pc
LIST
readelf -d "$libdir/libhibe.so" | grep -q 'Library soname: \[libhibe.so.0\]'
# The five functions are its only defined symbols, each of version HIBE_0.
diff -u - <(readelf --dyn-syms -W "$libdir/libhibe.so" |
            awk '$7 != "UND" && $7 != "ABS" && ($5 == "GLOBAL" || $5 == "WEAK") {print $8}' | sort) <<'LIST'
DecryptHibeMsg@@HIBE_0
EncryptHibeMsg@@HIBE_0
HibeSetup@@HIBE_0
KeyGenFromMaster@@HIBE_0
ReadKey@@HIBE_0
LIST

# The program the README shows is the one built here.
diff -u <(sed '1,/\*\//d' "$source/examples/hello.c") <(sed -n '/^```c$/,/^```$/{/^```/d;p}' "$source/README.md")

"$cc" -std=c11 -Wall -Wextra -Werror "$source/examples/hello.c" $(pkg-config --cflags --libs hibe) \
  -o "$scratch/hello-pkg-config"

cmake -S "$source/tests/host/consumer" -B "$scratch/cmake" -DCMAKE_C_COMPILER="$cc" \
  -DCMAKE_PREFIX_PATH="$prefix" -DHELLO_SOURCE="$source/examples/hello.c" >/dev/null
cmake --build "$scratch/cmake" >/dev/null

for program in hello-pkg-config cmake/hello; do
  run=$scratch/run-${program//\//-}
  mkdir -p "$run"
  output=$(cd "$run" && LD_LIBRARY_PATH=$libdir "$scratch/$program")
  echo "$program: $output"
  [[ $(tail -1 <<<"$output") == "hello, A/B" ]]
done

# The Python module finds the installed library by name.
run=$scratch/run-python
mkdir -p "$run"
(cd "$run" && LD_LIBRARY_PATH=$libdir PYTHONPATH=$source/examples/python python3 - <<'PY'
import hibe
lib = hibe.Hibe()
lib.setup(2, "org", "keys")
lib.keygen("A/B", "keys", "keys/org/org.masterKey", "keys/org/org.params")
params = lib.read_key("keys/org/org.params")
key = lib.read_key("keys/privateKeys/A#B.privateKey")
message_map = lib.encrypt(b"hello, A/B", [("A/B", params)])
print(lib.decrypt("A/B", params, key, message_map).decode())
PY
) | tail -1 | grep -qx "hello, A/B"
echo "python: hello, A/B"
