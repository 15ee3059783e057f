#!/usr/bin/env bash
# Follows the README word for word, as a new user does on a fresh clone, then
# checks what that installed, and that its uninstall took all of it away.
#
# The README's fenced blocks, by the words after the opening fence:
#   sh           run, in order, in one shell that starts at the top of the copy
#   sh norun     shown only (the system-wide install, the install from a package
#                index, the test command, the fuzzer)
#   python       run with the shell's python3 at that point, program on standard input
#   text output  what the sh or python block just before it prints (standard
#                output and error together), compared byte for byte
#   LANG PATH    the file PATH of the tree, word for word
#   text         shown only
# Any other block fails the test, so that a new block is run or marked. The
# blocks under the heading "Uninstall" run last, after the checks that need the
# install.
#
# The shell is the reader's, with what this machine lacks put in its
# environment, not in the README: a scratch home directory as ~ and a scratch
# TMPDIR (mktemp), nproc bounded to 4 (OMP_THREAD_LIMIT), and python3 Debian's
# own, as on a Debian machine. The machine reaches no package registry, so the
# README's offline install of the Python package is the one that runs; none of
# this machine's pip settings (PIP_*) is passed on.
#
# After the README: the installed files and symbols as they were before the
# uninstall, that the uninstall left no file of them, that the library-only
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

# The blocks: blocks/NN holds the NNth, blocks/index "NN README-LINE LAST LANG [WORD]",
# LAST 1 for a block under the heading "Uninstall".
blocks=$scratch/blocks
mkdir -p "$blocks" "$scratch/printed"
awk -v dir="$blocks" '
  /^#+ / && !inside { last = ($0 ~ /^#+ Uninstall$/) }
  /^```/ && !inside { inside = 1; n++; file = sprintf("%s/%02d", dir, n)
                      printf "%02d %d %d %s\n", n, NR, last, substr($0, 4) > (dir "/index"); printf "" > file; next }
  /^```$/ && inside { inside = 0; close(file); next }
  inside { print > file }
  END { if (inside) { print "README: a block is not closed" > "/dev/stderr"; exit 1 } }
' "$clone/README.md"

ids=() lines=() lasts=() kinds=()
while read -r n line last lang word rest; do
  where="README line $line"
  [[ -z ${rest:-} ]] || { echo "$where: more than two words after the fence" >&2; exit 1; }
  kind="$lang ${word:-}"
  case $kind in
    "sh "|"sh norun"|"python "|"text "|"text output") ;;
    *)
      if [[ -n ${word:-} && -f $clone/$word ]]; then
        diff -u --label "$word" --label "$where" "$clone/$word" "$blocks/$n" >&2 ||
          { echo "$where: the block is not the file $word" >&2; exit 1; }
        kind=file
      else
        echo "$where: a block of no known kind: $kind" >&2
        exit 1
      fi ;;
  esac
  ids+=("$n") lines+=("$line") lasts+=("$last") kinds+=("$kind")
done <"$blocks/index"

# The session's lines that run block i: sourced in the session's shell (sh) or
# given to python3; when a "text output" block follows, what it prints goes to
# printed/NN, is shown, and must be that block.
run_block() {
  local i=$1 n=${ids[$1]} output=""
  if [[ ${kinds[$1 + 1]:-} == "text output" ]]; then
    output=$scratch/printed/$n
  fi
  echo "echo '## README line ${lines[$i]}'"
  echo "echo $n >'$scratch/current'"
  case ${kinds[$i]} in
    "sh ")     echo ". '$blocks/$n'${output:+ >'$output' 2>&1}" ;;
    "python ") echo "python3 - <'$blocks/$n'${output:+ >'$output' 2>&1}" ;;
  esac
  if [[ -n $output ]]; then
    echo "cat '$output'; rm '$scratch/current'"
    echo "diff -u --label 'README line ${lines[$i + 1]}' --label printed '$blocks/${ids[$i + 1]}' '$output'"
  fi
}

session=$scratch/session.sh
python_blocks=()
deferred=()
{
  echo "set -eo pipefail"
  echo "cd '$clone'"
  for i in "${!ids[@]}"; do
    case ${kinds[$i]} in
      "sh "|"python ") ;;
      "text output")
        ((i > 0)) && [[ ${kinds[$i - 1]} == "sh " || ${kinds[$i - 1]} == "python " ]] ||
          { echo "README line ${lines[$i]}: a text output block after no sh or python block" >&2; exit 1; }
        continue ;;
      *) continue ;;
    esac
    [[ ${kinds[$i]} == "python " ]] && python_blocks+=("${ids[$i]}")
    if [[ ${lasts[$i]} == 1 ]]; then deferred+=("$i"); else run_block "$i"; fi
  done
  ((${#python_blocks[@]})) || { echo "README: no python block" >&2; exit 1; }
  ((${#deferred[@]})) || { echo "README: no block under the heading Uninstall" >&2; exit 1; }
  # Once more from the folder above the checkout named hibe: the installed
  # package is imported, not the folder.
  echo "echo '## the python blocks from the folder above the checkout'"
  echo "cd '$scratch'"
  for n in "${python_blocks[@]}"; do echo "python3 - <'$blocks/$n' >/dev/null"; done
  echo "cd '$clone'"
  # The package's version is the library's, and the programs build without a warning.
  echo '[[ $(python3 -c "import hibe; print(hibe.__version__)") == $(pkg-config --modversion hibe) ]]'
  echo 'for c in examples/hello/hello.c examples/encrypt_reason.c; do'
  echo '  cc -std=c11 -Wall -Wextra -Werror "$c" $(pkg-config --cflags --libs hibe) -o /dev/null'
  echo 'done'
  # What the install put in place, kept for the checks below; then the uninstall.
  echo "cp -a \"\$HOME/.local\" '$scratch/installed-prefix'"
  for i in "${deferred[@]}"; do run_block "$i"; done
  echo "echo '## the README ran to its end'"
} >"$session"

home=$scratch/home
mkdir -p "$home" "$scratch/tmp" "$scratch/bin"
# Debian's interpreter, whatever else this machine puts first on PATH.
ln -s /usr/bin/python3 "$scratch/bin/python3"

log=$scratch/session.log
pip_settings=()
for name in $(compgen -e); do
  [[ $name == PIP_* ]] && pip_settings+=(-u "$name")
done
if ! env -u PKG_CONFIG_PATH -u CMAKE_PREFIX_PATH -u LD_LIBRARY_PATH -u LD_PRELOAD -u HIBE_LIBRARY \
         -u PYTHONPATH -u PYTHONHOME -u PYTHONUNBUFFERED -u VIRTUAL_ENV \
         -u CMAKE_BUILD_PARALLEL_LEVEL -u MAKEFLAGS "${pip_settings[@]}" \
         HOME="$home" TMPDIR="$scratch/tmp" PATH="$scratch/bin:$PATH" OMP_THREAD_LIMIT=4 \
         bash "$session" >"$log" 2>&1; then
  cat "$log"
  current=$(cat "$scratch/current" 2>/dev/null || true)
  if [[ -n $current && -f $scratch/printed/$current ]]; then
    echo "## what that block printed"
    cat "$scratch/printed/$current"
  fi
  echo "the README failed at the block after the last '## README line' above ($log)"
  exit 1
fi
grep -E '^## |^hello, A/B$' "$log"
tail -1 "$log" | grep -qx '## the README ran to its end'

# Exactly the interface was installed under the README's prefix, and the object
# answers to its SONAME.
prefix=$scratch/installed-prefix
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

# The README's uninstall took all of it away again.
left=$(cd "$home/.local" && find . -type f -o -type l)
if [[ -n $left ]]; then
  echo "the README's uninstall left:"
  echo "$left"
  exit 1
fi

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
