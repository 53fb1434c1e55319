#!/usr/bin/env bash
# Renders the sample object from 24 positions at three heights, 15 degrees
# apart as object photographers shoot a turn, into
# images/{lower,centric,upper}-NN.jpg (1480 x 1110: textures of 1024 pixels a
# side on the viewer's settings). Rendering is not part of the build; run
# this after changing tower.pov and commit the pictures.
# Needs: povray, imagemagick.
set -euo pipefail
cd "$(dirname "$0")"
rm -rf images
mkdir -p images
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
declare -A heights=([lower]=0.8 [centric]=3.0 [upper]=6.5)
for series in lower centric upper; do
  for i in $(seq 0 23); do
    angle=$(( i * 360 / 24 ))
    name=$(printf '%s-%02d' "$series" "$i")
    povray +Itower.pov +O"$work/$name.png" +W1480 +H1110 +A0.2 +FN -D -GA \
      Declare=Angle="$angle" Declare=Height="${heights[$series]}" >/dev/null 2>&1
    convert "$work/$name.png" -strip -quality 82 "images/$name.jpg"
  done
done
du -sh images
