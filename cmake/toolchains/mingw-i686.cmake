# 32-bit Windows (the product: the host is a 32-bit program).
#   cmake -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-i686.cmake ...
#
# SSE2 arithmetic instead of the x87 unit: floating-point results then match the
# x86_64 build, the one that the tests run under wine. (Any CPU a current host runs
# on has SSE2.) GCC's MinGW targets realign the stack in functions that need it
# when SSE is on, so code called from the host with a 4-byte aligned stack is safe.
set(VANTREL_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
