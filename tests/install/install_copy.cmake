# Installs the build tree into a fresh prefix, as make install does, and checks that every
# file a user relies on is there.
# cmake -DBUILD=<build tree> -DPREFIX=<scratch prefix> -DLIBDIR=<lib> -DPROGRAMS=<a;b> -P ...
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX}
                OUTPUT_QUIET RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${status}")
endif()

set(expected include/xcorrnet/sacio.h include/xcorrnet/switches.h include/xcorrnet/xcnsacio.f90
    include/xcorrnet/xcnsacio.mod ${LIBDIR}/libxcnsacio.so ${LIBDIR}/libxcnsacio.a
    ${LIBDIR}/pkgconfig/xcnsacio.pc ${LIBDIR}/cmake/xcnsacio/xcnsacioConfig.cmake
    ${LIBDIR}/cmake/xcnsacio/xcnsacioConfigVersion.cmake share/xcorrnet/messages)
foreach(program ${PROGRAMS})
  list(APPEND expected bin/${program} share/man/man1/${program}.1)
endforeach()
foreach(file ${expected})
  if(NOT EXISTS ${PREFIX}/${file})
    message(SEND_ERROR "not installed: ${file}")
  endif()
endforeach()
# The headers stand alone: nothing may lead outside their folder.
file(GLOB_RECURSE stray RELATIVE ${PREFIX}/include ${PREFIX}/include/*)
list(FILTER stray EXCLUDE REGEX "^xcorrnet/")
if(stray)
  message(SEND_ERROR "installed outside include/xcorrnet: ${stray}")
endif()
file(STRINGS ${PREFIX}/${LIBDIR}/pkgconfig/xcnsacio.pc prefix_line REGEX "^prefix=")
if(NOT prefix_line STREQUAL "prefix=${PREFIX}")
  message(SEND_ERROR "xcnsacio.pc names ${prefix_line}, not the install prefix ${PREFIX}")
endif()
