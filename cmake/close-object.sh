#!/bin/sh
# close-object.sh <ld> <objcopy> <nm> <out.o> <objects...>: links the objects
# of one plug-in into <out.o> and leaves global only what the plug-in shows
# Pd (its setup function and the names it exports); everything else, its
# own helpers and its copies of inline functions and their statics, becomes
# local, out of COMDAT groups: nothing of it meets another plug-in's.
set -eu
ld=$1 objcopy=$2 nm=$3 out=$4
shift 4
"$ld" -r -o "$out" "$@"
"$objcopy" --localize-hidden "$out"
"$nm" --defined-only -g "$out" | awk '$2 ~ /^[TDBR]$/ { print $3 }' > "$out.global"
"$objcopy" --keep-global-symbols="$out.global" --remove-section=.group "$out"
rm -f "$out.global"
