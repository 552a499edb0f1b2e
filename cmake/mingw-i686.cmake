# Cross-compiling velmora.exe for 32-bit Windows with mingw-w64.
set(VELMORA_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# Doubles in SSE registers, so every rounding to double happens where the code
# says; long double stays the x87 80-bit format the moon arithmetic names.
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
