# make install: the tool and its helpers with their man pages; the file library, shared and
# static, with its headers, Fortran module, pkg-config file and CMake package; the message file
# (point SACAUX at <prefix>/share/xcorrnet).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(xcn_programs xcorrnet_v3 xcn_synth xcn_names xcn_stack xcn_rotate xcn_dvv xcn_export)
if(TARGET xcn_section)
  list(APPEND xcn_programs xcn_section)
endif()
if(TARGET xcn_prep)
  list(APPEND xcn_programs xcn_prep)
endif()
install(TARGETS ${xcn_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
foreach(program ${xcn_programs})
  install(FILES man/${program}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

set(xcn_header_dir ${CMAKE_INSTALL_INCLUDEDIR}/xcorrnet)
set(xcn_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/xcnsacio)
set(XCN_SACAUX_DIR ${CMAKE_INSTALL_DATADIR}/xcorrnet)

# Callers include <xcorrnet/sacio.h>; Fortran callers find the module beside it.
set_target_properties(xcn_sacio_shared PROPERTIES EXPORT_NAME xcnsacio)
set_target_properties(xcn_sacio_static PROPERTIES EXPORT_NAME xcnsacio_static)
foreach(library xcn_sacio_shared xcn_sacio_static)
  target_include_directories(
    ${library} INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>
    $<INSTALL_INTERFACE:$<$<COMPILE_LANGUAGE:Fortran>:$<INSTALL_PREFIX>/${xcn_header_dir}>>)
endforeach()
install(TARGETS xcn_sacio_shared xcn_sacio_static EXPORT xcnsacioTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES include/xcorrnet/sacio.h include/xcorrnet/switches.h include/xcorrnet/xcnsacio.f90
        DESTINATION ${xcn_header_dir})
if(TARGET xcn_fortran_module)
  install(FILES ${XCN_FORTRAN_MODULE_DIR}/xcnsacio.mod DESTINATION ${xcn_header_dir})
endif()
install(FILES share/messages DESTINATION ${XCN_SACAUX_DIR})

install(EXPORT xcnsacioTargets NAMESPACE xcnsacio:: DESTINATION ${xcn_cmake_dir})
configure_package_config_file(cmake/xcnsacioConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/package/xcnsacioConfig.cmake
                              INSTALL_DESTINATION ${xcn_cmake_dir} PATH_VARS XCN_SACAUX_DIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/xcnsacioConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/package/xcnsacioConfig.cmake
              ${CMAKE_BINARY_DIR}/package/xcnsacioConfigVersion.cmake
        DESTINATION ${xcn_cmake_dir})

configure_file(cmake/install_pkgconfig.cmake.in ${CMAKE_BINARY_DIR}/package/install_pkgconfig.cmake
               @ONLY)
install(SCRIPT ${CMAKE_BINARY_DIR}/package/install_pkgconfig.cmake)
