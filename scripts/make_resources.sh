#!/bin/sh
# Redraws resources/splash.bmp and resources/velquist.ico from make_resources.cpp.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
c++ -std=c++20 -O2 -fPIC "$here/make_resources.cpp" $(pkg-config --cflags --libs Qt6Gui) \
    -o "$work/make_resources"
QT_QPA_PLATFORM=offscreen "$work/make_resources" "$here/../resources"
