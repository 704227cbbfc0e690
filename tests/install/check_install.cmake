# Installs the build into a fresh prefix and builds a small consumer against
# it twice: as a CMake package (find_package(JPG)) and with pkg-config; runs
# both, the installed jpgtool, and renders the installed man page.
#   cmake -DBUILD=dir -DSOURCE=dir -DWORK=dir -DCC=compiler -P check_install.cmake
foreach(var BUILD SOURCE WORK CC)
  if(NOT ${var})
    message(FATAL_ERROR "${var} not set")
  endif()
endforeach()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    string(REPLACE ";" " " line "${ARGN}")
    message(FATAL_ERROR "${line}: ${status}\n${out}\n${err}")
  endif()
  set(RUN_OUTPUT "${out}" PARENT_SCOPE)
  set(RUN_ERRORS "${err}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK})
set(prefix ${WORK}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix})

# Where GNUInstallDirs put the libraries (lib, lib64 or lib/<multiarch>).
file(GLOB_RECURSE pcfile ${prefix}/*/jpg.pc)
if(NOT pcfile)
  message(FATAL_ERROR "no jpg.pc installed")
endif()
get_filename_component(pcdir ${pcfile} DIRECTORY)
get_filename_component(libdir ${pcdir} DIRECTORY)
foreach(file include/jpg.h include/jpg_canvas.h include/jpg_codec.h bin/jpgtool share/man/man1/jpgtool.1)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "${file} not installed")
  endif()
endforeach()
if(EXISTS ${SOURCE}/include/jpg_tool.h AND NOT EXISTS ${prefix}/include/jpg_tool.h)
  message(FATAL_ERROR "jpg_tool.h not installed")
endif()
# The linker name leads to the SONAME, which leads to the versioned file.
file(READ_SYMLINK ${libdir}/libjpg.so soname)
file(GLOB versioned ${libdir}/libjpg.so.*.*.*)
if(NOT soname MATCHES "^libjpg\\.so\\.[0-9]+$" OR NOT versioned)
  message(FATAL_ERROR "libjpg.so does not lead to a versioned SONAME (${soname})")
endif()
run(objdump -p ${libdir}/libjpg.so)
if(NOT RUN_OUTPUT MATCHES "SONAME +${soname}")
  message(FATAL_ERROR "libjpg.so has no SONAME ${soname}")
endif()

set(sample ${SOURCE}/samples/sample.jpg)

# 1. find_package(JPG)
run(${CMAKE_COMMAND} -S ${SOURCE}/tests/install -B ${WORK}/consumer -DCMAKE_PREFIX_PATH=${prefix}
  -DCMAKE_C_COMPILER=${CC} -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK}/consumer)
run(${WORK}/consumer/consumer ${sample} ${WORK}/package.bmp ${WORK}/package.jpg)
run(${WORK}/consumer/tool_consumer ${sample} ${WORK}/tool.bmp)
run(${WORK}/consumer/codec_consumer ${sample} ${WORK}/codec.jpg)

# 2. pkg-config
set(ENV{PKG_CONFIG_PATH} ${pcdir})
run(pkg-config --cflags --libs jpg)
string(STRIP "${RUN_OUTPUT}" flags)
separate_arguments(flags UNIX_COMMAND "${flags}")
run(${CC} ${SOURCE}/tests/install/consumer.c ${flags} -o ${WORK}/pkgconfig-consumer)
set(ENV{LD_LIBRARY_PATH} ${libdir})
run(${WORK}/pkgconfig-consumer ${sample} ${WORK}/pkgconfig.bmp ${WORK}/pkgconfig.jpg)
run(pkg-config --cflags --libs jpgcodec)
string(STRIP "${RUN_OUTPUT}" flags)
separate_arguments(flags UNIX_COMMAND "${flags}")
run(${CC} ${SOURCE}/tests/install/codec_consumer.c ${flags} -o ${WORK}/pkgconfig-codec-consumer)
run(${WORK}/pkgconfig-codec-consumer ${sample} ${WORK}/pkgconfig-codec.jpg)
# The codec library exports its API and nothing else.
run(nm -D --defined-only ${libdir}/libjpgcodec.so)
foreach(name jpgReadInfo jpgReadIcc jpgReadPreview jpgDefaultDecodeSettings jpgScaledSize jpgScaleFor jpgDecode
    jpgDefaultEncodeSettings jpgEncode jpgFree jpgVersion)
  if(NOT RUN_OUTPUT MATCHES " T ${name}\n")
    message(FATAL_ERROR "libjpgcodec.so does not export ${name}:\n${RUN_OUTPUT}")
  endif()
endforeach()

# The installed jpgtool and its man page.
run(${prefix}/bin/jpgtool --version)
set(ENV{MANWIDTH} 80)
run(man --warnings -l ${prefix}/share/man/man1/jpgtool.1)
if(NOT RUN_ERRORS STREQUAL "")
  message(FATAL_ERROR "the man page renders with warnings:\n${RUN_ERRORS}")
endif()
foreach(word import export info preview show --top-first --format --output-dir --level --layout --version
    "STANDARD STREAMS" "EXIT STATUS")
  if(NOT RUN_OUTPUT MATCHES "${word}")
    message(FATAL_ERROR "the man page does not describe ${word}")
  endif()
endforeach()
message(STATUS "installed, and consumed with find_package(JPG) and with pkg-config")
