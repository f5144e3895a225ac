# Cross-compiling the screen saver module for 32-bit Windows with the
# posix thread model of mingw-w64 (the win32 model lacks std::mutex).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# SSE2 arithmetic, so float and double round as IEEE single and double,
# as in the x86-64 build: with x87 registers a float quotient keeps excess
# precision and layout truncation comes out one pixel larger. Every CPU
# that runs a current Windows has SSE2.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
