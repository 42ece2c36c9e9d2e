#!/bin/sh
# Installs the build into a scratch prefix and builds a consumer against it twice:
# through find_package(kcarlib) and through pkg-config.
set -eu
build=$1
consumer=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
cmake -S "$consumer" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake" >/dev/null
LD_LIBRARY_PATH="$work/prefix/lib" "$work/cmake/consumer"
libdir=$(dirname "$(find "$work/prefix" -name kcarlib.pc)")
PKG_CONFIG_PATH="$libdir" cc -o "$work/pc-consumer" "$consumer/main.c" $(PKG_CONFIG_PATH="$libdir" pkg-config --cflags --libs kcarlib)
LD_LIBRARY_PATH="$work/prefix/lib" "$work/pc-consumer"
test -e "$work/prefix/lib/libkcarlib.so.1" || test -n "$(find "$work/prefix" -name 'libkcarlib.so.1')"
