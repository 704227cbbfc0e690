# The SIMD kernels live in files named <stage>_sse2.cpp and <stage>_avx2.cpp
# beside their stage. Those files, and no others, are compiled for their
# instruction set: the rest of the library (the 32-bit DLL included) runs on
# any processor of its architecture, and picks a kernel set at run time.
#   jpg_simd_sources(<source> ...)   in the directory that compiles them
function(jpg_simd_sources)
  if(NOT CMAKE_SYSTEM_PROCESSOR MATCHES "^([xX]86|[xX]86_64|AMD64|amd64|i[3-6]86)$")
    return()
  endif()
  if(MSVC)
    set(sse2_flag "")
    set(avx2_flag "/arch:AVX2")
  else()
    set(sse2_flag "-msse2")
    set(avx2_flag "-mavx2")
  endif()
  foreach(src IN LISTS ARGN)
    if(src MATCHES "_sse2\\.cpp$" AND sse2_flag)
      set_property(SOURCE ${src} APPEND PROPERTY COMPILE_OPTIONS ${sse2_flag})
    elseif(src MATCHES "_avx2\\.cpp$")
      set_property(SOURCE ${src} APPEND PROPERTY COMPILE_OPTIONS ${avx2_flag})
    endif()
  endforeach()
endfunction()
