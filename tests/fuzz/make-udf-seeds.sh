#!/usr/bin/env bash
# Writes seed inputs for the UDF fuzz target into the folder $1: the empty file systems of each
# kind mkudffs makes (physical, sparable, virtual and metadata partitions; plain and extended
# file entries; 2048- and 512-byte blocks) and a UDF bridge with folders and files from
# genisoimage, stripped of its ISO 9660 descriptors. Each is written as the target reads it:
# the blocks that are not zeros, each after its number.
set -euo pipefail
out=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

to_seed() { # image seed
    local image=$1 seed=$2 i
    : >"$seed"
    # od writes a line of words for each block; awk names the blocks with a word that is not 0.
    for i in $(od -A n -t x8 -v -w2048 "$image" | awk '/[1-9a-f]/ { print NR - 1 }'); do
        printf "\\x$(printf %02x $((i & 255)))\\x$(printf %02x $((i >> 8)))" >>"$seed"
        dd if="$image" bs=2048 skip="$i" count=1 status=none >>"$seed"
    done
}

while IFS=: read -r name options blocks; do
    rm -f "$work/image"
    # shellcheck disable=SC2086 # the options are words
    mkudffs --utf8 --new-file --label=Проба $options "$work/image" "$blocks" >/dev/null
    to_seed "$work/image" "$out/mkudffs-$name"
done <<'KINDS'
udf102:--media-type=hd -b 2048 --udfrev=1.02:300
udf201:--media-type=hd -b 2048 --udfrev=2.01:300
udf201-short:--media-type=hd -b 2048 --udfrev=2.01 --noefe --ad=short:300
udf201-512:--media-type=hd -b 512 --udfrev=2.01:1200
sparable:--media-type=cdrw --udfrev=2.01:2000
vat150:--media-type=cdr --udfrev=1.50:300
vat201:--media-type=dvdr --udfrev=2.01:300
bluray250:--media-type=bdr --udfrev=2.50:600
KINDS

tree=$work/tree
mkdir -p "$tree/Папка/Вложенная" "$tree/d1/d2/d3"
for i in $(seq 1 4); do touch "$tree/Папка/длинное имя файла $i.txt"; done
touch "$tree/d1/d2/d3/deep.txt" "$tree/README"
genisoimage -quiet -udf -V 'ДИСК' -o "$work/bridge.iso" "$tree" 2>/dev/null
# The ISO 9660 descriptors from block 16 up to the UDF recognition sequence become zeros.
for ((block = 16; ; block++)); do
    [ "$(dd if="$work/bridge.iso" bs=1 skip=$((block * 2048 + 1)) count=5 status=none)" = CD001 ] ||
        break
    dd if=/dev/zero of="$work/bridge.iso" bs=2048 seek="$block" count=1 conv=notrunc status=none
done
# genisoimage pads the image with copies of the anchor; the image is cut after the first of them.
for ((block = 257; ; block++)); do
    [ "$(od -A n -t x2 -N 2 -j $((block * 2048)) "$work/bridge.iso" | tr -d ' ')" = 0002 ] || continue
    truncate -s $(((block + 1) * 2048)) "$work/bridge.iso"
    break
done
to_seed "$work/bridge.iso" "$out/genisoimage-udf"
