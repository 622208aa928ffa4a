# Cross compilation for 32-bit Windows with mingw-w64. The programs run here under Wine's WoW64
# mode (wine-env.sh names the 32-bit Wine DLLs).
set(MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-posix.cmake)
