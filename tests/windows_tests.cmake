# The Windows build's tests: the core's tests and the Win32 back-end's own,
# cross-compiled and run under Wine in a virtual X display, and the
# end-to-end test of velmora.exe under Wine.

# googletest from Debian's sources (package googletest), built here with the
# cross compiler; its own warnings are not ours.
set(VELMORA_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "googletest sources")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${VELMORA_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
target_compile_options(gtest PRIVATE -w)
target_compile_options(gtest_main PRIVATE -w)

add_executable(velmora_tests ${VELMORA_CORE_TESTS})
target_link_libraries(velmora_tests PRIVATE velmora_sim velmora_raster gtest_main)
add_executable(velmora_backend_tests ${VELMORA_PORTABLE_BACKEND_TESTS} win32_test.cpp)
target_link_libraries(velmora_backend_tests PRIVATE velmora_giveio velmora_serial_lights velmora_win32
                      velmora_display_scale velmora_sim
                      velmora_raster gtest_main)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(VELMORA_EXE_FORMAT "PE32+ executable (GUI) x86-64")
else()
  set(VELMORA_EXE_FORMAT "PE32 executable (GUI) Intel 80386")
endif()
add_test(NAME velmora_exe_imports
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/exe_imports.sh $<TARGET_FILE:velmora>
                 ${VELMORA_EXE_FORMAT})

# Wine's own loader for the build's word size (Debian keeps them in
# /usr/lib/wine). 32-bit Wine (wine32:i386) needs a kernel that runs 32-bit
# programs; without it the 32-bit build has only the check above.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  find_program(VELMORA_WINE NAMES wine64 PATHS /usr/lib/wine)
else()
  find_program(VELMORA_WINE NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
endif()
if(VELMORA_WINE)
  execute_process(COMMAND ${VELMORA_WINE} --version RESULT_VARIABLE wine_status
                  OUTPUT_QUIET ERROR_QUIET)
  if(NOT wine_status EQUAL 0)
    set(VELMORA_WINE "")  # installed, but this kernel does not run it
  endif()
endif()
if(NOT VELMORA_WINE)
  message(STATUS "No Wine loader for this word size: the tests under Wine are left out")
  return()
endif()
# The render of the Linux build, for the pulses velmora.exe must play.
set(VELMORA_NATIVE_RENDER ${CMAKE_SOURCE_DIR}/build/default/velmora-render
    CACHE FILEPATH "velmora-render of the Linux build")

add_test(NAME core_tests_under_wine
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/wine_run.sh ${VELMORA_WINE}
                 ${CMAKE_BINARY_DIR}/wineprefix $<TARGET_FILE:velmora_tests>)
set_tests_properties(core_tests_under_wine PROPERTIES TIMEOUT 600)
add_test(NAME backend_tests_under_wine
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/wine_run.sh ${VELMORA_WINE}
                 ${CMAKE_BINARY_DIR}/wineprefix $<TARGET_FILE:velmora_backend_tests>)
set_tests_properties(backend_tests_under_wine PROPERTIES TIMEOUT 600 RUN_SERIAL TRUE)

add_test(NAME velmora_wine_e2e
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/velmora_wine_e2e.sh ${VELMORA_WINE}
                 $<TARGET_FILE:velmora> ${VELMORA_NATIVE_RENDER})
set_tests_properties(velmora_wine_e2e PROPERTIES TIMEOUT 600)


# The installer, made by cpack and run under Wine in a prefix of its own.
find_program(VELMORA_MAKENSIS makensis)
if(VELMORA_MAKENSIS)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(VELMORA_SETUP ${CMAKE_BINARY_DIR}/velmora-${PROJECT_VERSION}-win64-setup.exe)
  else()
    set(VELMORA_SETUP ${CMAKE_BINARY_DIR}/velmora-${PROJECT_VERSION}-win32-setup.exe)
  endif()
  add_test(NAME installer_package
           COMMAND ${CMAKE_CPACK_COMMAND} -G NSIS --config ${CMAKE_BINARY_DIR}/CPackConfig.cmake
           WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
  set_tests_properties(installer_package PROPERTIES FIXTURES_SETUP installer)
  add_test(NAME installer_wine_e2e
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/installer_wine_e2e.sh ${VELMORA_WINE}
                   ${VELMORA_SETUP} ${PROJECT_VERSION})
  set_tests_properties(installer_wine_e2e PROPERTIES FIXTURES_REQUIRED installer TIMEOUT 300)
else()
  message(STATUS "No makensis (package nsis): the installer and its test are left out")
endif()
