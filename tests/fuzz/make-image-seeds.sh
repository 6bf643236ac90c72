#!/usr/bin/env bash
# Writes seed inputs for the image fuzz target into the folder $1: small xorriso images of one
# tree with Joliet, with Rock Ridge alone (deep folders relocated), and with plain ISO 9660 names,
# each from its volume descriptors on and cut after its directories; and the first of them in each
# kind of container (raw sectors of modes 1 and 2, .cue, Nero, Alcohol, CloneCD), from its start,
# as the fuzz target takes containers: "#kind", the descriptor, "#data" and the data file.
set -euo pipefail
out=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree" "$tree.iso" "$tree.head" "$tree.raw1"' EXIT
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

# Numbers as bytes: big-endian for Nero, little-endian for Alcohol.
bytes() { for b in "$@"; do printf "\\x$(printf %02x $((b & 255)))"; done; }
be32() { bytes $(($1 >> 24)) $(($1 >> 16)) $(($1 >> 8)) "$1"; }
be64() { be32 0; be32 "$1"; }
le16() { bytes "$1" $(($1 >> 8)); }
le32() { bytes "$1" $(($1 >> 8)) $(($1 >> 16)) $(($1 >> 24)); }
zeros() { head -c "$1" /dev/zero; }

# The blocks of $1 as raw sectors of mode $2: sync, header, subheader in mode 2, data, and zeros
# where the error codes go (no reader checks them).
raw() {
    local blocks=$(($(stat -c %s "$1") / 2048)) i
    for ((i = 0; i < blocks; i++)); do
        bytes 0 255 255 255 255 255 255 255 255 255 255 0 0 2 $((i % 75)) "$2"
        if [ "$2" = 2 ]; then bytes 0 0 8 0 0 0 8 0; fi
        dd if="$1" bs=2048 skip=$i count=1 status=none
        zeros $(($2 == 1 ? 288 : 280))
    done
}

LC_ALL=C.UTF-8 xorriso -outdev "$tree.iso" -joliet on -rockridge on -padding 0 -map "$tree" / \
    >/dev/null 2>&1
dd if="$tree.iso" of="$tree.head" bs=2048 count=48 status=none
blocks=48
raw "$tree.head" 1 >"$tree.raw1"
{ printf '#bin\n'; cat "$tree.raw1"; } >"$out/raw-mode1.seed"
{ printf '#bin\n'; raw "$tree.head" 2; } >"$out/raw-mode2.seed"
{
    printf '#cue\nFILE "disc.bin" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n'
    printf '  TRACK 02 AUDIO\n    INDEX 01 00:00:40\n#data\n'
    cat "$tree.raw1"
} >"$out/bin-cue.seed"
{
    printf '#ccd\n[CloneCD]\nVersion=3\n[Disc]\nTocEntries=1\nSessions=1\n'
    printf '[Entry 0]\nSession=1\nPoint=0x01\nControl=0x04\nPLBA=0\n#data\n'
    cat "$tree.raw1"
} >"$out/clonecd.seed"
{
    printf '#mds\nMEDIA DESCRIPTOR'
    zeros 4; le16 1; zeros 58; le32 88; zeros 4
    le32 0; le32 $blocks; le16 1; bytes 2 1; le16 1; le16 1; le32 0; le32 112
    zeros 4; bytes 160; zeros 75
    bytes 170 0 0 0 1; zeros 11; le16 2352; zeros 18; le32 0; le32 0; le32 0; zeros 32
    printf '\n#data\n'
    cat "$tree.raw1"
} >"$out/alcohol.seed"
{
    printf '#nrg\n'
    cat "$tree.raw1"
    at=$(stat -c %s "$tree.raw1")
    printf 'CUEX'; be32 8; bytes 65 1 1 0; be32 0
    printf 'DAOX'; be32 64; zeros 20; bytes 1 1
    zeros 12; bytes 9 48 6 0 0 0; be64 0; be64 0; be64 "$at"
    printf 'END!'; be32 0
    printf 'NER5'; be64 "$at"
} >"$out/nero.seed"
rm -f "$tree.raw1"
