#!/usr/bin/env bash
# Renders the sample object from 16 positions at three heights into
# images/{lower,centric,upper}-NN.jpg (640 x 480). Rendering is not part of the
# build; run this after changing tower.pov and commit the pictures.
# Needs: povray, imagemagick.
set -euo pipefail
cd "$(dirname "$0")"
mkdir -p images
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
declare -A heights=([lower]=0.8 [centric]=3.0 [upper]=6.5)
for series in lower centric upper; do
  for i in $(seq 0 15); do
    angle=$(( i * 360 / 16 ))
    name=$(printf '%s-%02d' "$series" "$i")
    povray +Itower.pov +O"$work/$name.png" +W640 +H480 +A0.2 +FN -D -GA \
      Declare=Angle="$angle" Declare=Height="${heights[$series]}" >/dev/null 2>&1
    convert "$work/$name.png" -strip -quality 82 "images/$name.jpg"
  done
done
du -sh images
