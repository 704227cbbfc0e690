#!/usr/bin/env bash
# Cross-builds the Windows DLLs with mingw-w64 and tests them:
#   build-win32/JPG.dll   the shipping 32-bit DLL; static checks of its export
#                         table, calling convention and imports
#   build-win64/          the 64-bit library, jpgtool.exe and host_test.exe,
#                         run under wine64 (headless), and compared with the
#                         native build's jpgtool in build/ (brought up to
#                         date here)
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release -DJPG_BUILD_TESTS=ON >/dev/null
cmake --build build-win32 -j"$jobs"
(cd build-win32 && ctest --output-on-failure)

# The native jpgtool the Windows build is compared with (up to date).
if [ ! -f build/CMakeCache.txt ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build build -j"$jobs" --target jpgtool

cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release -DJPG_BUILD_TESTS=ON \
  -DJPG_NATIVE_JPGTOOL="$PWD/build/jpgtool" >/dev/null
cmake --build build-win64 -j"$jobs"

# A Wine prefix of our own beside the build, made once (no display needed).
export WINEPREFIX="$PWD/build-win64/wineprefix" WINEDEBUG=-all
wine=$(grep -m1 '^JPG_WINE64:' build-win64/CMakeCache.txt 2>/dev/null | cut -d= -f2 || true)
wine=${wine:-$(command -v wine64 || echo /usr/lib/wine/wine64)}
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Creating the Wine prefix in $WINEPREFIX"
  DISPLAY= timeout 300 "$wine" wineboot -i </dev/null >/dev/null 2>&1 || true
fi
wineserver="$(dirname "$wine")/wineserver"
[ -x "$wineserver" ] || wineserver=wineserver
# One server for the whole run: it would otherwise start again, with its
# services, for many of the short test runs. It serves this prefix alone and
# is stopped on the way out.
"$wineserver" -p || true
trap '"$wineserver" -k 2>/dev/null || true' EXIT
# Start Wine's services now, away from CTest: a service started by a test
# would hold that test's output pipe open until it ends.
DISPLAY= timeout 120 "$wine" wineboot </dev/null >/dev/null 2>&1 || true
status=0
(cd build-win64 && DISPLAY= ctest --output-on-failure -j"$jobs") || status=$?
echo "JPG.dll (32-bit): $PWD/build-win32/JPG.dll"
exit $status
