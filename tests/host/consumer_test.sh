#!/usr/bin/env bash
# Follows the README word for word, as a new user does on a fresh clone, then
# checks what that installed.
#
# The README's fenced blocks, by the words after the opening fence:
#   sh          run, in order, in one shell that starts at the top of the copy
#   sh norun    shown only (the system-wide install, the test command, the fuzzer)
#   python      run with the shell's python3 at that point, program on standard input
#   LANG PATH   the file PATH of the tree, word for word
#   text        shown only
# Any other block fails the test, so that a new block is run or marked.
#
# The shell is the reader's, with what this machine lacks put in its
# environment, not in the README: a scratch home directory as ~ and a scratch
# TMPDIR (mktemp), nproc bounded to 4 (OMP_THREAD_LIMIT), and no package
# registry: python3 is Debian's, "-m venv" makes an environment that sees
# Debian's setuptools and wheel, and pip builds without isolation
# (PIP_NO_BUILD_ISOLATION=0) and looks at no index.
#
# After the README: the installed files and symbols, that the library-only
# build looked for neither GoogleTest nor Google Benchmark, and that the copy
# shows no file git does not ignore.
#
#   consumer_test.sh SOURCE-DIR SCRATCH-DIR
set -euo pipefail
source=$(cd "$1" && pwd)
rm -rf "$2"
mkdir -p "$2"
scratch=$(cd "$2" && pwd)

# The copy: what git tracks and the new files it does not ignore, as they are
# in the working tree; build folders stay out. It is named hibe, so that the
# Python block runs once more from the folder above a checkout of that name.
clone=$scratch/hibe
mkdir -p "$clone"
git -C "$source" ls-files -z --cached --others --exclude-standard |
  tar -C "$source" --null -T - --ignore-failed-read -cf - 2>/dev/null | tar -C "$clone" -xf -
git -C "$clone" init -q
git -C "$clone" add -A
git -C "$clone" -c user.name=consumer -c user.email=consumer@localhost commit -q -m "tree under test"

# The blocks: blocks/NN holds the NNth, blocks/index "NN README-LINE LANG [WORD]".
blocks=$scratch/blocks
mkdir -p "$blocks"
awk -v dir="$blocks" '
  /^```/ && !inside { inside = 1; n++; file = sprintf("%s/%02d", dir, n)
                      printf "%02d %d %s\n", n, NR, substr($0, 4) > (dir "/index"); printf "" > file; next }
  /^```$/ && inside { inside = 0; close(file); next }
  inside { print > file }
  END { if (inside) { print "README: a block is not closed" > "/dev/stderr"; exit 1 } }
' "$clone/README.md"

session=$scratch/session.sh
python_blocks=()
{
  echo "set -eo pipefail"
  echo "cd '$clone'"
  while read -r n line lang word rest; do
    where="README line $line"
    [[ -z ${rest:-} ]] || { echo "$where: more than two words after the fence" >&2; exit 1; }
    case "$lang ${word:-}" in
      "sh ")       echo "echo '## $where'"; echo ". '$blocks/$n'" ;;
      "sh norun")  ;;
      "python ")   echo "echo '## $where'"; echo "python3 - <'$blocks/$n'"; python_blocks+=("$n") ;;
      "text ")     ;;
      *)
        if [[ -n ${word:-} && -f $clone/$word ]]; then
          diff -u --label "$word" --label "$where" "$clone/$word" "$blocks/$n" >&2 ||
            { echo "$where: the block is not the file $word" >&2; exit 1; }
        else
          echo "$where: a block of no known kind: $lang ${word:-}" >&2
          exit 1
        fi ;;
    esac
  done <"$blocks/index"
  ((${#python_blocks[@]})) || { echo "README: no python block" >&2; exit 1; }
  # Once more from the folder above the checkout named hibe: the installed
  # package is imported, not the folder.
  echo "echo '## the python blocks from the folder above the checkout'"
  echo "cd '$scratch'"
  for n in "${python_blocks[@]}"; do echo "python3 - <'$blocks/$n'"; done
  echo "cd '$clone'"
  # The package's version is the library's, and the program builds without a warning.
  echo '[[ $(python3 -c "import hibe; print(hibe.__version__)") == $(pkg-config --modversion hibe) ]]'
  echo 'cc -std=c11 -Wall -Wextra -Werror examples/hello/hello.c $(pkg-config --cflags --libs hibe) -o /dev/null'
  echo "echo '## the README ran to its end'"
} >"$session"

home=$scratch/home
mkdir -p "$home" "$scratch/tmp" "$scratch/bin"
cat >"$scratch/bin/python3" <<'SH'
#!/bin/sh
# Debian's interpreter, whatever else is on PATH; its virtual environments see
# Debian's setuptools and wheel, since no package registry is reached.
if [ "$1" = -m ] && [ "$2" = venv ]; then
  shift 2
  exec /usr/bin/python3 -m venv --system-site-packages "$@"
fi
exec /usr/bin/python3 "$@"
SH
chmod +x "$scratch/bin/python3"

log=$scratch/session.log
if ! env -u PKG_CONFIG_PATH -u CMAKE_PREFIX_PATH -u LD_LIBRARY_PATH -u LD_PRELOAD -u HIBE_LIBRARY \
         -u PYTHONPATH -u PYTHONHOME -u VIRTUAL_ENV -u CMAKE_BUILD_PARALLEL_LEVEL -u MAKEFLAGS \
         HOME="$home" TMPDIR="$scratch/tmp" PATH="$scratch/bin:$PATH" OMP_THREAD_LIMIT=4 \
         PIP_NO_BUILD_ISOLATION=0 PIP_NO_INDEX=1 PIP_DISABLE_PIP_VERSION_CHECK=1 \
         bash "$session" >"$log" 2>&1; then
  cat "$log"
  echo "the README failed at the block after the last '## README line' above ($log)"
  exit 1
fi
grep -E '^## |^hello, A/B$' "$log"
tail -1 "$log" | grep -qx '## the README ran to its end'

# Exactly the interface is installed under the README's prefix, and the object
# answers to its SONAME.
prefix=$home/.local
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
readelf -d "$prefix/lib/libhibe.so" | grep -q 'Library soname: \[libhibe.so.0\]'
# The five functions are its only defined symbols, each of version HIBE_0.
diff -u - <(readelf --dyn-syms -W "$prefix/lib/libhibe.so" |
            awk '$7 != "UND" && $7 != "ABS" && ($5 == "GLOBAL" || $5 == "WEAK") {print $8}' | sort) <<'LIST'
DecryptHibeMsg@@HIBE_0
EncryptHibeMsg@@HIBE_0
HibeSetup@@HIBE_0
KeyGenFromMaster@@HIBE_0
ReadKey@@HIBE_0
LIST

# The library-only build did not look for GoogleTest or Google Benchmark.
if grep -E '^(GTest|benchmark)_DIR' "$clone/build/CMakeCache.txt"; then
  echo "the library-only build looked for the test or benchmark libraries"
  exit 1
fi

# Whatever the README made in the tree, git ignores.
untracked=$(git -C "$clone" status --porcelain)
if [[ -n $untracked ]]; then
  echo "the README's commands left files that git does not ignore:"
  echo "$untracked"
  exit 1
fi
echo "the README works as written"
