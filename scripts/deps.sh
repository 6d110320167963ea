#!/usr/bin/env bash
# Installs the Debian packages the build, tests, benchmarks, fuzzers and the Windows steps need, when any
# is missing, then checks that every program and file those steps use is there, and fails naming what is not.
set -euo pipefail
# package : what of it a step uses
packages=(
  cmake ninja-build g++ python3 pkg-config   # every Linux build; python3 runs the type-library generator
  clang libclang-rt-14-dev                   # the asan, tsan and fuzz presets (sanitizer and libFuzzer runtimes)
  libgtest-dev libgmock-dev libbenchmark-dev # tests and benchmarks
  libxml2-dev                                # the XML document of the platform layer
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64  # the windows preset
  mingw-w64-tools                            # x86_64-w64-mingw32-widl: the type library of the Windows build
  libwine-dev                                # the standard IDL imports widl reads (oaidl.idl, ocidl.idl)
  wine64                                     # runs the Windows programs; stdole2.tlb, which widl links to
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# What the steps call by name or read by path. A package that stops shipping one of these fails here, with
# its name, rather than halfway through a build.
absent=()
for tool in cmake ninja g++ clang++ python3 pkg-config x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-gcc-posix \
            x86_64-w64-mingw32-windres x86_64-w64-mingw32-widl; do
  command -v "$tool" >/dev/null || absent+=("$tool")
done
for file in /usr/include/gtest/gtest.h /usr/include/gmock/gmock.h /usr/include/benchmark/benchmark.h \
            /usr/include/libxml2/libxml/parser.h /usr/include/wine/wine/windows/oaidl.idl \
            /usr/lib/x86_64-linux-gnu/wine/x86_64-windows/stdole2.tlb /usr/lib/wine/wine64 \
            /usr/lib/wine/wineserver; do
  [ -e "$file" ] || absent+=("$file")
done
if ((${#absent[@]})); then
  echo "deps: still missing after the install: ${absent[*]}" >&2
  exit 1
fi
