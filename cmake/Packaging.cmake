# What a studio ships, as `cmake --install <build> --prefix <P>` lays it out and
# `cpack` packs it:
#
#   bin/KestrelwoodStart.exe        the start program
#   bin/kes-debug-capture.exe       shows a launcher's hand-over log
#   bin/kes-inspect.exe             which launcher would start, and why
#   include/, lib/                  the self-update library, its headers and
#                                   CMake package (installed by selfupdate/)
#   VERSION                         the project version
#   SHA256SUMS                      the SHA-256 of every file above
install(TARGETS KestrelwoodStart RUNTIME DESTINATION bin)
if(TARGET kes-debug-capture)
    install(TARGETS kes-debug-capture kes-inspect RUNTIME DESTINATION bin)
endif()

configure_file(${CMAKE_CURRENT_LIST_DIR}/VERSION.in ${CMAKE_BINARY_DIR}/generated/VERSION @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/generated/VERSION DESTINATION .)

# Runs last (install() rules run in the order they are given, and this file is
# included after every subdirectory), over whatever the install put there.
install(CODE [[
    set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
    file(GLOB_RECURSE shipped RELATIVE "${root}" "${root}/*")
    list(REMOVE_ITEM shipped SHA256SUMS)
    list(SORT shipped)
    set(sums "")
    foreach(file IN LISTS shipped)
        file(SHA256 "${root}/${file}" hash)
        string(APPEND sums "${hash}  ${file}\n")
    endforeach()
    file(WRITE "${root}/SHA256SUMS" "${sums}")
    message(STATUS "Written: ${root}/SHA256SUMS")
]])

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME KestrelwoodStart)
set(CPACK_PACKAGE_VENDOR Kestrelwood)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME KestrelwoodStart-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_VERBATIM_VARIABLES ON)
include(CPack)
