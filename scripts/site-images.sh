#!/usr/bin/env bash
# Draws the site's images from the SVG sources in site/images into OUTDIR:
# the four 128x128 message-page icons as PNG, and favicon.ico holding the
# favicon at 16, 32 and 48 pixels (PNG-compressed icon entries, which every
# current browser reads). Needs rsvg-convert (Debian package librsvg2-bin).
set -euo pipefail
src="$(cd "$(dirname "$0")/../site/images" && pwd)"
out="${1:?usage: site-images.sh OUTDIR}"
mkdir -p "$out"

for icon in warning info stop question; do
  rsvg-convert --width 128 --height 128 --format png "$src/$icon.svg" --output "$out/$icon.png.tmp"
  mv "$out/$icon.png.tmp" "$out/$icon.png"
done

# Little-endian integers as raw bytes, for the icon file's header.
le16() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $((($1 >> 8) & 255)))"; }
le32() { le16 $(($1 & 65535)); le16 $((($1 >> 16) & 65535)); }

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
sizes=(16 32 48)
for s in "${sizes[@]}"; do
  rsvg-convert --width "$s" --height "$s" --format png "$src/favicon.svg" --output "$tmp/$s.png"
done
{
  le16 0; le16 1; le16 ${#sizes[@]}          # reserved, type 1 = icon, image count
  offset=$((6 + 16 * ${#sizes[@]}))
  for s in "${sizes[@]}"; do
    size=$(stat -c %s "$tmp/$s.png")
    # width, height, palette size, reserved, colour planes, bits per pixel
    printf "\\x$(printf %02x "$s")\\x$(printf %02x "$s")\\x00\\x00"; le16 1; le16 32
    le32 "$size"; le32 "$offset"
    offset=$((offset + size))
  done
  for s in "${sizes[@]}"; do cat "$tmp/$s.png"; done
} > "$out/favicon.ico.tmp"
mv "$out/favicon.ico.tmp" "$out/favicon.ico"
