# The 32-bit self-update libraries, for 32-bit launchers: a build of this
# project with the i686 toolchain, limited to the shared code and the routine
# (KES_ROUTINE_ONLY), in <build>/x86. Installed under x86/:
#
#   x86/bin/kes_selfupdate.dll
#   x86/lib/libkes_selfupdate.dll.a, kes_selfupdate.lib, kes_selfupdate.def
#   x86/lib/libkes_selfupdate.a, libkes_common.a   (static, for MinGW C++)
include(ExternalProject)
set(KES_X86_BINARY_DIR ${CMAKE_BINARY_DIR}/x86)
ExternalProject_Add(kes_x86
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${KES_X86_BINARY_DIR}
    CMAKE_GENERATOR Ninja
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/toolchain-mingw-i686.cmake
               -DKES_ROUTINE_ONLY=ON -DKES_WERROR=${KES_WERROR} -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
               -DKES_X86_FIXTURES=${KES_BUILD_TESTS}
               # The 32-bit fixtures go beside the others, where the tests look for them.
               -DKES_X86_FIXTURE_DIR=${CMAKE_BINARY_DIR}/bin
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS ${KES_X86_BINARY_DIR}/bin/kes_selfupdate.dll)

install(FILES ${KES_X86_BINARY_DIR}/bin/kes_selfupdate.dll DESTINATION x86/bin)
install(FILES ${KES_X86_BINARY_DIR}/selfupdate/libkes_selfupdate.dll.a
              ${KES_X86_BINARY_DIR}/selfupdate/kes_selfupdate.lib
              ${PROJECT_SOURCE_DIR}/selfupdate/kes_selfupdate.def
              ${KES_X86_BINARY_DIR}/selfupdate/libkes_selfupdate.a
              ${KES_X86_BINARY_DIR}/common/libkes_common.a
        DESTINATION x86/lib)
