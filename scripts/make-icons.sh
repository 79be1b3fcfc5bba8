#!/usr/bin/env bash
# Makes the program's icon and its AppStream screenshot from the show's own
# picture: the orbit at 17.5 s, the white sphere in its glow. The icon is cut
# square around the sphere and scaled to the usual icon sizes. Run it when the
# picture changes, review what it made and commit it with the change:
#
#   scripts/make-icons.sh build/release [FOLDER]
#
# Writes FOLDER/icons/SIZE.png and FOLDER/screenshot.png; FOLDER defaults to
# docs.
set -euo pipefail
build=${1:?usage: make-icons.sh BUILD_DIR [FOLDER]}
folder=${2:-$(dirname "$0")/../docs}
frame=$(mktemp --suffix=.png)
trap 'rm -f "$frame"' EXIT

# 2 fps reaches 17.5 s in 36 frames, to the same picture as at 60.
"$build/pelmira-capture" --fps 2 --at 17.5 "$frame"
mkdir -p "$folder/icons"
# -bitexact keeps ffmpeg's name and version out of the files.
ffmpeg -loglevel error -y -i "$frame" -bitexact -pix_fmt rgb24 "$folder/screenshot.png"
for size in 16 24 32 48 64 128 256; do
    ffmpeg -loglevel error -y -i "$frame" -vf "crop=352:352:196:112,scale=$size:$size:flags=lanczos" \
        -bitexact -pix_fmt rgb24 "$folder/icons/$size.png"
done
