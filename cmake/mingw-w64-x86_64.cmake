# Cross build for 64-bit Windows with Debian's mingw-w64 (GCC 12):
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# (scripts/build-windows.sh does this). The -posix compilers: the default
# win32-thread ones have no std::thread or std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ORU_MINGW_TARGET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ORU_MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORU_MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${ORU_MINGW_TARGET}-windres)

# Libraries and headers come from the mingw sysroot only, never from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${ORU_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The host's pkg-config files describe Linux libraries: a cross configure
# that asked pkg-config would find them and link them.
set(ENV{PKG_CONFIG_LIBDIR} "")
set(ENV{PKG_CONFIG_PATH} "")

# One .exe per program: libgcc, libstdc++ and winpthread linked in, so only
# Windows' own DLLs are needed beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
