# What `cmake --install` puts under the prefix:
#   lib/libjpg.so.0.2.0 (SONAME libjpg.so.0) and its links, or bin/JPG.dll with
#     lib/libJPG.dll.a (MinGW) and lib/JPG.lib (Visual C++)
#   lib/libjpgcodec.so.0... and lib/libjpgcodec.a, or bin/jpgcodec.dll with
#     lib/libjpgcodec.dll.a, lib/jpgcodec.lib and lib/libjpgcodec_static.a
#   include/jpg.h, jpg_canvas.h, jpg_codec.h, jpg_tool.h
#   lib/libjpg_tool.a, the tool interface that jpgtool is built on
#   bin/jpgtool, share/man/man1/jpgtool.1
#   lib/cmake/JPG/ the package: find_package(JPG) gives JPG::jpg, JPG::codec,
#     JPG::codec_static and JPG::jpg_tool
#   lib/pkgconfig/jpg.pc and jpgcodec.pc
include(CMakePackageConfigHelpers)

set(JPG_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/JPG)

install(TARGETS jpg EXPORT JPGTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
if(JPG_MSVC_IMPORT_LIBRARY)
  install(FILES ${JPG_MSVC_IMPORT_LIBRARY} DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()
set_target_properties(jpgcodec PROPERTIES EXPORT_NAME codec)
set_target_properties(jpgcodec_static PROPERTIES EXPORT_NAME codec_static)
install(TARGETS jpgcodec jpgcodec_static EXPORT JPGTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
if(JPG_CODEC_MSVC_IMPORT_LIBRARY)
  install(FILES ${JPG_CODEC_MSVC_IMPORT_LIBRARY} DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()

set(JPG_PUBLIC_HEADERS ${PROJECT_SOURCE_DIR}/include/jpg.h ${PROJECT_SOURCE_DIR}/include/jpg_canvas.h
  ${PROJECT_SOURCE_DIR}/include/jpg_codec.h)
if(TARGET jpg_tool)
  install(TARGETS jpg_tool EXPORT JPGTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
  list(APPEND JPG_PUBLIC_HEADERS ${PROJECT_SOURCE_DIR}/include/jpg_tool.h)
endif()
install(FILES ${JPG_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

if(TARGET jpgtool)
  install(TARGETS jpgtool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/docs/jpgtool.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# What the imported targets need from the consumer's system.
set(JPG_CONFIG_DEPENDENCIES "")
if(NOT WIN32)
  set(JPG_CONFIG_DEPENDENCIES "find_dependency(Threads)")
endif()
install(EXPORT JPGTargets NAMESPACE JPG:: DESTINATION ${JPG_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/JPGConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/JPGConfig.cmake INSTALL_DESTINATION ${JPG_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/JPGConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/JPGConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/JPGConfigVersion.cmake
  DESTINATION ${JPG_CMAKE_DIR})

# pkg-config: the paths are relative to the .pc file, so the package works
# wherever `cmake --install --prefix` puts it.
file(RELATIVE_PATH JPG_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" JPG_PC_TO_PREFIX "${JPG_PC_TO_PREFIX}")
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(JPG_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(JPG_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
if(WIN32)
  set(JPG_PC_LIBRARY JPG)
else()
  set(JPG_PC_LIBRARY jpg)
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/jpg.pc.in ${CMAKE_CURRENT_BINARY_DIR}/jpg.pc @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/jpgcodec.pc.in ${CMAKE_CURRENT_BINARY_DIR}/jpgcodec.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/jpg.pc ${CMAKE_CURRENT_BINARY_DIR}/jpgcodec.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
