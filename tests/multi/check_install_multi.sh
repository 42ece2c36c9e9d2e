#!/bin/sh
# Installs the build into a scratch prefix and builds a consumer of the
# multi-carrier library against it twice: through find_package(kcarlib) and its
# kcarlib::kcarlib-multi target, and through pkg-config kcarlib-multi.
set -eu
build=$1
consumer=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
cmake -S "$consumer" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake" >/dev/null
libdir=$(dirname "$(find "$work/prefix" -name kcarlib-multi.pc)")
LD_LIBRARY_PATH="$libdir/.." "$work/cmake/consumer"
PKG_CONFIG_PATH="$libdir" cc -o "$work/pc-consumer" "$consumer/main.c" $(PKG_CONFIG_PATH="$libdir" pkg-config --cflags --libs kcarlib-multi)
LD_LIBRARY_PATH="$libdir/.." "$work/pc-consumer"
test -n "$(find "$work/prefix" -name 'libkcarlib-multi.so.1')"
