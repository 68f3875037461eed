#!/bin/sh
# Remakes the goldens with a built tool, for a change that is meant to alter
# an output; review the difference before committing it. No test runs this.
# For every case folder here it runs the tool on the folder's input.txt, or
# on the example of the case's name, replaces the four files the tool writes
# and keeps its standard error as stderr.txt when there is any. It prints the
# highest label of each case, the count that tests/golden/CMakeLists.txt
# gives it.
#   sh tests/golden/remake.sh build/release/edgeseg
set -eu
[ $# -eq 1 ] || { echo "usage: $0 EDGESEG" >&2; exit 2; }
tool=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for dir in "$here"/*/; do
  dir=${dir%/}
  case=$(basename "$dir")
  input=$dir/input.txt
  [ -f "$input" ] || input=$here/../../examples/$case.txt
  rm -f "$dir/$case" "$dir/${case}_In.bmp" "$dir/${case}_Reg.bmp" "$dir/${case}_Grad.bmp" "$dir/stderr.txt"
  if ! "$tool" "$input" "$dir/$case" >"$work/stdout" 2>"$work/stderr"; then
    echo "$case: the tool failed: $(cat "$work/stdout")" >&2
    exit 1
  fi
  if [ -s "$work/stdout" ]; then
    echo "$case: the tool printed: $(cat "$work/stdout")" >&2
    exit 1
  fi
  [ ! -s "$work/stderr" ] || cp "$work/stderr" "$dir/stderr.txt"
  echo "$case: highest label $(tr ' ' '\n' <"$dir/$case" | sort -n | tail -n 1)"
done
