# Cross-compiles for 32-bit Windows with MinGW-w64 (posix thread variant), for
# the 32-bit self-update libraries.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/MingwToolchain.cmake)
