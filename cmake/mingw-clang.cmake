# Cross-compiles wrenfold.exe for 64-bit Windows with clang, using the
# headers and import libraries of mingw-w64 and the libstdc++ of its GCC in
# the win32-threads variant. clang is used rather than GCC because only clang
# understands the structured exception keywords (__try/__except/__finally)
# for this target. Everything is linked statically, so the executable needs
# no runtime DLLs besides the system's own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(WRENFOLD_MINGW_TRIPLE x86_64-w64-mingw32)
set(WRENFOLD_MINGW_GCC_VERSION 12 CACHE STRING "Version of the mingw-w64 GCC whose libstdc++ is used")
set(WRENFOLD_MINGW_GCC_DIR /usr/lib/gcc/${WRENFOLD_MINGW_TRIPLE}/${WRENFOLD_MINGW_GCC_VERSION}-win32
    CACHE PATH "Library folder of the mingw-w64 GCC (win32 threads)")
set(WRENFOLD_MINGW_SYSROOT /usr/${WRENFOLD_MINGW_TRIPLE} CACHE PATH "mingw-w64 headers and libraries")

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${WRENFOLD_MINGW_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${WRENFOLD_MINGW_TRIPLE})
set(CMAKE_RC_COMPILER ${WRENFOLD_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH ${WRENFOLD_MINGW_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_C_FLAGS_INIT "-fms-extensions")
set(CMAKE_CXX_FLAGS_INIT
    "-fms-extensions -isystem ${WRENFOLD_MINGW_GCC_DIR}/include/c++ -isystem ${WRENFOLD_MINGW_GCC_DIR}/include/c++/${WRENFOLD_MINGW_TRIPLE}")
# The linker of this target (binutils' x86_64-w64-mingw32-ld) writes the link
# time into the PE header unless told not to: with a zero stamp, two builds of
# one commit give the same bytes, whatever the build folder or the hour.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -L${WRENFOLD_MINGW_GCC_DIR} -Wl,--no-insert-timestamp")
