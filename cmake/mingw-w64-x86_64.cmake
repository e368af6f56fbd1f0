# Cross-build for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64).
#
# The posix flavour of the compilers: GCC 12's win32 flavour has no std::thread or std::mutex.
# The C and C++ runtimes (and winpthreads) are linked statically, so that the programs and
# libraries need nothing on a bare Windows but the system's own DLLs.
#
# SUITE_WIN_DEPS names the prefix that scripts/setup-windows.sh built the Windows libraries into
# (JsonCpp, libusb-1.0, GoogleTest, and the Boost headers). Libraries, headers and CMake packages
# are looked up there and in the MinGW-w64 system root only, never on the build host.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(SUITE_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${SUITE_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SUITE_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${SUITE_MINGW_TRIPLET}-windres)

set(SUITE_WIN_DEPS "" CACHE PATH "Prefix of the Windows libraries built by scripts/setup-windows.sh")
# try_compile projects read this file again; they get the prefix passed on.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES SUITE_WIN_DEPS)

set(CMAKE_FIND_ROOT_PATH /usr/${SUITE_MINGW_TRIPLET})
if(SUITE_WIN_DEPS)
    list(PREPEND CMAKE_FIND_ROOT_PATH ${SUITE_WIN_DEPS})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(SUITE_STATIC_RUNTIMES "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT ${SUITE_STATIC_RUNTIMES})
set(CMAKE_SHARED_LINKER_FLAGS_INIT ${SUITE_STATIC_RUNTIMES})
set(CMAKE_MODULE_LINKER_FLAGS_INIT ${SUITE_STATIC_RUNTIMES})
