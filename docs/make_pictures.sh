#!/bin/sh
# Remakes the pictures that README.md shows: runs the built edgeseg on
# examples/cells.txt and turns its three BMPs into docs/cells_In.png,
# docs/cells_Reg.png and docs/cells_Grad.png with Debian's ImageMagick
# (package imagemagick). Run by hand after `cmake --workflow --preset demo`:
#   sh docs/make_pictures.sh [EDGESEG]
set -eu
docs=$(cd "$(dirname "$0")" && pwd)
tool=${1:-$docs/../build/release/edgeseg}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$tool" "$docs/../examples/cells.txt" "$work/cells"
for kind in In Reg Grad; do
  # By full path: another convert may come first on PATH. -strip drops the
  # time stamps, so the same picture gives the same bytes.
  /usr/bin/convert "$work/cells_$kind.bmp" -strip "$docs/cells_$kind.png"
done
