# Cross-compiling for 64-bit Windows with mingw-w64: the same sources as the
# 32-bit build, and the build the tests run under 64-bit Wine where a machine
# cannot run 32-bit programs.
set(VELMORA_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
