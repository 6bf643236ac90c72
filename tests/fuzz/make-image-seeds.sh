#!/usr/bin/env bash
# Writes seed inputs for the image fuzz target into the folder $1: small xorriso images of one
# tree with Joliet, with Rock Ridge alone (deep folders relocated), and with plain ISO 9660 names,
# each from its volume descriptors on and cut after its directories.
set -euo pipefail
out=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree" "$tree.iso"' EXIT
mkdir -p "$out" "$tree/Папка/Вложенная" "$tree/d1/d2/d3/d4/d5/d6/d7/d8/d9"
for i in $(seq 1 30); do echo "$i" > "$tree/Папка/длинное имя файла $i.txt"; done
echo x > "$tree/d1/d2/d3/d4/d5/d6/d7/d8/d9/deep.txt"
echo y > "$tree/README"
ln -s Папка "$tree/link"
for options in "-joliet on -rockridge on" "-joliet off -rockridge on -compliance deep_paths_off" \
    "-joliet off -rockridge off"; do
    name=$(echo "$options" | tr -c 'a-z0-9\n' '_')
    LC_ALL=C.UTF-8 xorriso -outdev "$tree.iso" $options -padding 0 -map "$tree" / >/dev/null 2>&1
    dd if="$tree.iso" of="$out/$name.iso" bs=2048 skip=16 count=64 status=none
    rm -f "$tree.iso"
done
