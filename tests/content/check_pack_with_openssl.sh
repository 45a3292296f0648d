#!/usr/bin/env bash
# Packs a small folder with the pack writer, then checks the pack with tools of its own:
# perl takes the layout apart and deciphers the body, openssl verifies the signature over
# the MD5 digest of the file table followed by the body (PKCS#1 v1.5, SHA-1), gzip inflates it.
#   check_pack_with_openssl.sh ORVANDEL_PACK PRIVATE_KEY PUBLIC_KEY
set -euo pipefail
pack_tool=$1 private_key=$2 public_key=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/site/js"
printf '<h1>checked</h1>' > "$work/site/index.html"
printf 'let checked = true;\n' > "$work/site/js/app.js"
"$pack_tool" "$work/site" "$work/pack.dat" "$private_key" > /dev/null

perl -e '
  use strict; use warnings;
  my ($packPath, $out) = @ARGV;
  open(my $in, "<:raw", $packPath) or die "cannot open $packPath";
  local $/; my $pack = <$in>;
  substr($pack, 0, 4) eq "RES\0" or die "bad magic";
  my $sigLength = unpack("s<", substr($pack, 5, 2));
  my $at = 7;
  my $signature = substr($pack, $at, $sigLength); $at += $sigLength;
  my $tableStart = $at;
  my ($bodyLength, $count) = unpack("L< l<", substr($pack, $at, 8)); $at += 8;
  my $total = 0;
  for (1 .. $count) {
    my ($size, $nameLength) = unpack("L< s<", substr($pack, $at, 6));
    $at += 6 + $nameLength; $total += $size;
  }
  my $table = substr($pack, $tableStart, $at - $tableStart);
  my $body = substr($pack, $at, $bodyLength);
  my $password = "pelmor";
  my $key = substr($password x (int($bodyLength / 6) + 1), 0, $bodyLength);
  open(my $s, ">:raw", "$out/signature.bin") or die; print $s $signature; close $s;
  open(my $b, ">:raw", "$out/body.gz") or die; print $b ($body ^ $key); close $b;
  open(my $m, ">:raw", "$out/signed.bin") or die; print $m $table . ($body ^ $key); close $m;
  open(my $t, ">", "$out/total") or die; print $t $total; close $t;
' "$work/pack.dat" "$work"

openssl dgst -md5 -binary "$work/signed.bin" > "$work/md5.bin"
openssl dgst -sha1 -verify "$public_key" -signature "$work/signature.bin" "$work/md5.bin"
inflated=$(gzip -dc "$work/body.gz" | wc -c)
[ "$inflated" -eq "$(cat "$work/total")" ] || { echo "inflated $inflated bytes, records say $(cat "$work/total")"; exit 1; }
gzip -dc "$work/body.gz" | grep -q '<h1>checked</h1>let checked = true;' || { echo "body differs"; exit 1; }
echo "pack checked"
