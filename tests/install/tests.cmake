# The package as a user gets it: installed into a scratch prefix, then used by callers built
# the way users build them (pkg-config, find_package, the Fortran module), and the man pages.
# In a sanitizer build the installed library needs the sanitizer runtime first in the process,
# so the callers are built with the same sanitizers.
find_package(PkgConfig QUIET)
set(xcn_installed ${CMAKE_BINARY_DIR}/installed)
set(xcn_scratch ${CMAKE_BINARY_DIR}/installed-callers)
set(xcn_caller_flags "")
if(XCN_SANITIZE)
  set(xcn_caller_flags "-fsanitize=${XCN_SANITIZE} -fno-omit-frame-pointer")
endif()

set(xcn_programs xcorrnet_v3 xcn_synth xcn_names xcn_stack xcn_rotate xcn_dvv xcn_export)
if(TARGET xcn_section)
  list(APPEND xcn_programs xcn_section)
endif()
if(TARGET xcn_prep)
  list(APPEND xcn_programs xcn_prep)
endif()
add_test(NAME installed_copy
         COMMAND ${CMAKE_COMMAND} -DBUILD=${CMAKE_BINARY_DIR} -DPREFIX=${xcn_installed}
                 -DLIBDIR=${CMAKE_INSTALL_LIBDIR} "-DPROGRAMS=${xcn_programs}"
                 -P ${CMAKE_CURRENT_LIST_DIR}/install_copy.cmake)
set_tests_properties(installed_copy PROPERTIES FIXTURES_SETUP installed)

set(xcn_pc_dir ${xcn_installed}/${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(PKG_CONFIG_FOUND)
  add_test(NAME installed_c_caller_pkgconfig
           COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/pkgconfig_caller.sh ${PKG_CONFIG_EXECUTABLE}
                   ${xcn_pc_dir} ${CMAKE_C_COMPILER} ${CMAKE_SOURCE_DIR}/tests/clients/client.c
                   ${xcn_scratch}/c "${xcn_caller_flags}")
  add_test(NAME installed_fortran_caller_module
           COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/pkgconfig_caller.sh ${PKG_CONFIG_EXECUTABLE}
                   ${xcn_pc_dir} ${CMAKE_Fortran_COMPILER}
                   ${CMAKE_CURRENT_LIST_DIR}/module_client.f90 ${xcn_scratch}/fortran
                   "${xcn_caller_flags}")
  set_tests_properties(installed_c_caller_pkgconfig installed_fortran_caller_module
                       PROPERTIES FIXTURES_REQUIRED installed)
else()
  message(STATUS "pkg-config not found: the installed callers through pkg-config are not tested")
endif()

add_test(NAME installed_cmake_caller
         COMMAND ${CMAKE_CTEST_COMMAND} --build-and-test ${CMAKE_CURRENT_LIST_DIR}/cmake_caller
                 ${xcn_scratch}/cmake --build-generator ${CMAKE_GENERATOR}
                 --build-options -DCMAKE_PREFIX_PATH=${xcn_installed}
                 -DCMAKE_C_COMPILER=${CMAKE_C_COMPILER}
                 -DCMAKE_Fortran_COMPILER=${CMAKE_Fortran_COMPILER}
                 "-DCMAKE_C_FLAGS=-Wall -Wextra -Wpedantic -Werror ${xcn_caller_flags}"
                 "-DCMAKE_Fortran_FLAGS=${xcn_caller_flags}"
                 "-DCMAKE_EXE_LINKER_FLAGS=${xcn_caller_flags}"
                 --test-command ${CMAKE_CTEST_COMMAND} --output-on-failure)
set_tests_properties(installed_cmake_caller PROPERTIES FIXTURES_REQUIRED installed)

# gfortran must refuse a call that disagrees with the module's interfaces.
if(CMAKE_Fortran_COMPILER_ID STREQUAL "GNU")
  add_test(NAME fortran_module_checks_calls
           COMMAND ${CMAKE_Fortran_COMPILER} -fsyntax-only -I${XCN_FORTRAN_MODULE_DIR}
                   ${CMAKE_CURRENT_LIST_DIR}/module_misuse.f90)
  set_tests_properties(
    fortran_module_checks_calls
    PROPERTIES ENVIRONMENT "LC_ALL=C" PASS_REGULAR_EXPRESSION
    "Type mismatch in argument [^ ]*nerr.*Missing actual argument for argument [^ ]*kname_len")
endif()
add_test(NAME fortran_module_error_numbers
         COMMAND ${CMAKE_COMMAND} -DHEADER=${CMAKE_SOURCE_DIR}/include/xcorrnet/sacio.h
                 -DMODULE=${CMAKE_SOURCE_DIR}/include/xcorrnet/xcnsacio.f90
                 -P ${CMAKE_CURRENT_LIST_DIR}/error_numbers.cmake)

# Every man page formats without a warning and has the sections users look for.
find_program(XCN_MAN man)
find_program(XCN_GROFF groff)
set(xcn_formatter ${XCN_MAN})
if(NOT XCN_MAN)
  set(xcn_formatter ${XCN_GROFF})
endif()
if(xcn_formatter)
  file(GLOB xcn_pages CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/man/*.1)
  foreach(page ${xcn_pages})
    get_filename_component(name ${page} NAME_WE)
    add_test(NAME man_page_${name}
             COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/check_man.sh ${xcn_formatter} ${page})
  endforeach()
else()
  message(STATUS "Neither man nor groff found: the man pages are not checked")
endif()
