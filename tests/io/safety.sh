#!/bin/bash
# Input files are never damaged and no partial output is left: a full disk, a
# file size limit and SIGTERM while writing into the input directory, and a
# FIFO where a class file is searched.   safety.sh VORQ SOURCE_DIR
set -u
vorq="$(realpath "$1")"
t="$(mktemp -d)"
trap 'umount "$t/small" 2>/dev/null; rm -rf "$t"' EXIT
fails=0
check() {  # check WHAT COMMAND...
  if ! "${@:2}"; then echo "FAIL: $1"; fails=$((fails + 1)); fi
}
only_input() { [ "$(ls -A "$1")" = "big.nld" ] && cmp -s "$1/big.nld" "$t/big.nld"; }

# A 4.7 MB module with 20000 inverters that -a removes: the rewrite is as big.
awk -v n=20000 'BEGIN {
  print "(def-module\tbig\n\t(def-pin\ta\ttype input)\n\t(def-pin\tb\ttype input)"
  for (i = 1; i <= n; i++) printf "\t(def-pin\ty%d\ttype output)\n", i
  for (i = 1; i <= n; i++) printf "\t(def-comp\tnand--2\tg%d\th%d)\n\t(def-comp\tinv-\ti%d)\n", i, i, i
  for (i = 1; i <= n; i++)
    printf "\t(def-net\tg%d.nout\ti%d.in)\n\t(def-net\ti%d.nout\th%d.in1)\n\t(def-net\th%d.nout\ty%d)\n" \
           "\t(def-net\tb\tg%d.in2\th%d.in2)\n\t(def-net\ta\tg%d.in1)\n", i, i, i, i, i, i, i, i, i
  print ")" }' >"$t/big.nld"

# A file size limit kills vorq with SIGXFSZ in the middle of the rewrite.
mkdir "$t/w" && cp "$t/big.nld" "$t/w/"
{ (ulimit -f 1000 && exec "$vorq" -a big "$t/w" -w "$t/w"); } 2>/dev/null
check "SIGXFSZ while writing: status $?" [ $? -eq 153 ]
check "SIGXFSZ while writing: input changed or output left" only_input "$t/w"

# SIGTERM as soon as writing starts: the input is the old or the new file.
mkdir "$t/o" && "$vorq" -a big "$t/w" -w "$t/o" 2>/dev/null
"$vorq" -a big "$t/w" -w "$t/w" 2>"$t/err" & pid=$!
until grep -qs "Start to write" "$t/err" || ! kill -0 $pid 2>/dev/null; do :; done
kill -TERM $pid 2>/dev/null; wait $pid
check "SIGTERM while writing: a file other than the input left" [ "$(ls -A "$t/w")" = "big.nld" ]
check "SIGTERM while writing: input damaged" eval 'cmp -s "$t/w/big.nld" "$t/big.nld" || cmp -s "$t/w/big.nld" "$t/o/big.nld"'

# A class file that is a FIFO is passed over like a missing file.
cp -r "$2/tests/e2e/cases/with_inverters" "$t/fifo" && cd "$t/fifo" && mkfifo work/rom.nld
timeout 10 "$vorq" top work -r lib -w out >/dev/null 2>&1
check "FIFO class file: status $?" [ $? -eq 0 ]
check "FIFO class file: copy differs from lib/rom.nld" cmp -s out/rom.nld lib/rom.nld

# A full disk, with the write directory the input directory (root only).
if mkdir "$t/small" && mount -t tmpfs -o size=6m tmpfs "$t/small" 2>/dev/null; then
  cp "$t/big.nld" "$t/small/"
  "$vorq" -a big "$t/small" -w "$t/small" 2>"$t/err"
  check "full disk: status $?" [ $? -eq 1 ]
  check "full disk: message" grep -q "^Could not write $t/small/big.nld: No space left on device$" "$t/err"
  check "full disk: input changed or output left" only_input "$t/small"
  mount -o remount,ro "$t/small" && "$vorq" -a big "$t/small" -w "$t/small" 2>"$t/err"
  check "read-only write directory: status $?" [ $? -eq 1 ]
  check "read-only write directory: found after reading" grep -qvz "Start to read" "$t/err"
else
  echo "full disk: skipped (needs root to mount a tmpfs)"
fi
exit $((fails > 0))
