# 64-bit Windows build used only to run the Windows tests on machines whose
# kernel cannot execute 32-bit Linux programs, where the 32-bit Wine loader
# does not start. The screen saver module itself ships as the i686 build.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
