# Cross-compiles for 64-bit Windows with MinGW-w64 (posix thread variant, which
# GoogleTest needs) and runs the resulting programs under Wine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/MingwToolchain.cmake)
