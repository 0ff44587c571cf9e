# Cross-compiling for Windows with MinGW-w64 (i686).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(SONDREL_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER   ${SONDREL_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SONDREL_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${SONDREL_TRIPLE}-windres)
# SSE2 floating point, as the project sets for itself, so that the dependencies
# built with this file (the decoder, the transform) compute as the 64-bit ones.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_FIND_ROOT_PATH /usr/${SONDREL_TRIPLE} ${CMAKE_CURRENT_LIST_DIR}/../build/deps/i686)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
