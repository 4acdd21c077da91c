# The 32-bit self-update libraries, for 32-bit launchers: a build of this
# project with the i686 toolchain, limited to the shared code and the routine
# (KES_ROUTINE_ONLY), in <build>/x86, installed by its own rules into a staging
# prefix, <build>/x86-stage. This project's install takes that prefix's bin/
# and lib/ (its headers are this project's own) under x86/:
#
#   x86/bin/kes_selfupdate.dll
#   x86/lib/libkes_selfupdate.dll.a, kes_selfupdate.lib, kes_selfupdate.def
#   x86/lib/libkes_selfupdate.a, libkes_common.a   (static, for MinGW C++)
include(ExternalProject)
set(KES_X86_BINARY_DIR ${CMAKE_BINARY_DIR}/x86)
set(KES_X86_STAGE_DIR ${CMAKE_BINARY_DIR}/x86-stage)
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
    INSTALL_COMMAND ${CMAKE_COMMAND} --install ${KES_X86_BINARY_DIR} --prefix ${KES_X86_STAGE_DIR}
    BUILD_BYPRODUCTS ${KES_X86_BINARY_DIR}/bin/kes_selfupdate.dll)

# The staged package's CMake files are left out: they would describe
# headers under x86/include, which the package keeps once, under include/.
install(DIRECTORY ${KES_X86_STAGE_DIR}/bin ${KES_X86_STAGE_DIR}/lib DESTINATION x86
        PATTERN cmake EXCLUDE)
