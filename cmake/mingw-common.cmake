# Shared by the mingw-w64 toolchain files; JPG_MINGW_TRIPLE names the target.

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
