# Cross-compiles for 64-bit Windows with Debian's mingw-w64 and runs the
# resulting programs (tests, CTest) under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TESSALY_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TESSALY_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${TESSALY_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${TESSALY_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TESSALY_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Link the compiler's runtime statically so that the programs start under
# Wine without the mingw DLLs on the search path.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(TESSALY_WINE_PROGRAM NAMES wine wine64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${TESSALY_WINE_PROGRAM})
