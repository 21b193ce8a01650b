# 64-bit Windows: the twin of the i686 build, for running the tests under wine64.
#   cmake -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-x86_64.cmake ...
set(VANTREL_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
