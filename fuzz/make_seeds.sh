#!/usr/bin/env bash
# Writes the small seed inputs of fuzz/corpus/ with kitpack and gzip:
#   fuzz/make_seeds.sh path/to/kitpack
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kitpack=${1:?usage: fuzz/make_seeds.sh path/to/kitpack}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
corpus=$root/fuzz/corpus
mkdir -p "$corpus/kvq_header" "$corpus/pack_index" "$corpus/gzip"

mkdir -p "$tmp/src/sub"
printf 'Appvisor\r\n' >"$tmp/src/Appvisor.exe"
printf 'x' >"$tmp/src/sub/a.dll"
"$kitpack" auk "$corpus/pack_index/small.auk" "$tmp/src" --version 1.0.0 >/dev/null
"$kitpack" aukinc "$corpus/pack_index/small.aukinc" "$tmp/src" --version 1.0.1 >/dev/null

printf 'b' >"$tmp/boot.bin"
printf 'os' >"$tmp/os.nb0"
head -c 783 /dev/zero | tr '\0' '\1' >"$tmp/conf.kvr"
"$kitpack" kvq --force "$corpus/kvq_header/full.kvq" --version V12X-0A1B2C3-1.2.3 --boot "$tmp/boot.bin" \
  --os "$tmp/os.nb0" --app "$corpus/pack_index/small.auk" --conf "$tmp/conf.kvr" --logo3 "$tmp/boot.bin" >/dev/null
"$kitpack" kvq --force "$corpus/kvq_header/boot_only.kvq" --version NODASH --boot "$tmp/boot.bin" >/dev/null

# gzip seeds: two capacity bytes, then the stream.
printf 'hello hello hello hello\n' >"$tmp/text.txt"
{ printf '\000\100'; gzip -c -n "$tmp/text.txt"; } >"$corpus/gzip/plain.bin"
{ printf '\000\010'; gzip -c "$tmp/text.txt"; } >"$corpus/gzip/named_small_capacity.bin"
{ printf '\001\000'; gzip -c -n -9 "$corpus/pack_index/small.auk"; } >"$corpus/gzip/binary.bin"
