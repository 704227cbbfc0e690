# Cross build for 64-bit Windows (run on Linux under wine64) with mingw-w64.
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(JPG_MINGW_TRIPLE x86_64-w64-mingw32)

include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Test programs run under Wine (Debian's wine64 package).
find_program(JPG_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT JPG_WINE64)
  find_program(JPG_WINE64 NAMES wine64 wine)
endif()
if(JPG_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${JPG_WINE64})
endif()
