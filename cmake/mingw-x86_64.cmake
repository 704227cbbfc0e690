# Cross build for 64-bit Windows (run on Linux under wine64) with mingw-w64.
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(JPG_MINGW_TRIPLE x86_64-w64-mingw32)

# The "win32" thread model needs no winpthread DLL; fall back to the default
# compiler when a system only has the plain names.
foreach(lang C CXX)
  if(lang STREQUAL C)
    set(tool gcc)
  else()
    set(tool g++)
  endif()
  find_program(JPG_MINGW_${lang} NAMES ${JPG_MINGW_TRIPLE}-${tool}-win32 ${JPG_MINGW_TRIPLE}-${tool} REQUIRED)
  set(CMAKE_${lang}_COMPILER ${JPG_MINGW_${lang}})
endforeach()
find_program(CMAKE_RC_COMPILER NAMES ${JPG_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${JPG_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under Wine (Debian's wine64 package).
find_program(JPG_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT JPG_WINE64)
  find_program(JPG_WINE64 NAMES wine64 wine)
endif()
if(JPG_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${JPG_WINE64})
endif()
