# Shared part of the MinGW-w64 toolchain files; included by mingw-<arch>.cmake
# after it has set VANTREL_MINGW_ARCH (i686 or x86_64).
#
# Compilers: Debian's "posix" thread variant (winpthreads behind std::thread,
# std::mutex and std::condition_variable; the "win32" variant of GCC 12 has no
# std::thread). The runtime (libgcc, libstdc++, winpthread) is linked statically,
# so our DLLs and EXEs import only Windows system DLLs.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 6.1) # Windows 7

set(VANTREL_MINGW_TRIPLE ${VANTREL_MINGW_ARCH}-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR ${VANTREL_MINGW_ARCH})

find_program(CMAKE_C_COMPILER NAMES ${VANTREL_MINGW_TRIPLE}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${VANTREL_MINGW_TRIPLE}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${VANTREL_MINGW_TRIPLE}-windres REQUIRED)
find_program(CMAKE_AR NAMES ${VANTREL_MINGW_TRIPLE}-gcc-ar-posix ${VANTREL_MINGW_TRIPLE}-ar REQUIRED)
find_program(CMAKE_RANLIB NAMES ${VANTREL_MINGW_TRIPLE}-gcc-ranlib-posix ${VANTREL_MINGW_TRIPLE}-ranlib REQUIRED)
find_program(CMAKE_OBJDUMP NAMES ${VANTREL_MINGW_TRIPLE}-objdump)

# Libraries and headers come only from the target's sysroot (and from prefixes
# named explicitly, like VANTREL_MPG123_PREFIX); programs from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${VANTREL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static runtime. "-static" also makes the linker pick libwinpthread.a over the
# import library of libwinpthread-1.dll.
set(_vantrel_static_runtime "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_vantrel_static_runtime}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_vantrel_static_runtime}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_vantrel_static_runtime}")
unset(_vantrel_static_runtime)

