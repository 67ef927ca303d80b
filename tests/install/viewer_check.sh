#!/bin/sh
# The installed SDK as a game uses it: installs the build into a fresh
# prefix, builds examples/viewer against it alone, once with pkg-config and
# once with find_package(Trovalis), and runs both on the example package.
#   viewer_check.sh BUILD_DIR SOURCE_DIR WORK_DIR [EXTRA_FLAGS]
# EXTRA_FLAGS are given to the compiler and linker (a sanitizer build's
# libraries need its runtime).
set -eu
build=$1 source=$2 work=$3 flags=${4:-}
rm -rf "$work"
mkdir -p "$work/demo"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log"

# The API's headers only: no package internals, nothing from the build tree.
for header in PackageFormat.h PackageIndex.h PackageCipher.h PackageUpgrade.h; do
    if [ -e "$prefix/include/trovalis/package/$header" ]; then
        echo "package internal $header was installed"
        exit 1
    fi
done

cp -r "$source/examples/demo" "$source/examples/demo.xml" "$work/demo/"
(cd "$work/demo" && "$prefix/bin/bundlex" demo.xml demo.vlt >/dev/null)

# pkg-config, from the installed .pc file only.
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
c++ -std=c++17 $flags "$source/examples/viewer/main.cpp" $(pkg-config --cflags --libs trovalis) -o "$work/viewer-pc"
"$work/viewer-pc" "$work/demo/demo.vlt" "$work/pc.png"

# CMake, from the installed package only.
cmake -S "$source/examples/viewer" -B "$work/viewer-cmake" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >"$work/cmake.log"
cmake --build "$work/viewer-cmake" >>"$work/cmake.log"
"$work/viewer-cmake/viewer" "$work/demo/demo.vlt" "$work/cmake.png"

cmp "$work/pc.png" "$work/cmake.png"
pngcheck -q "$work/cmake.png"
echo "viewer picture: $work/cmake.png"
