# The identifiers of the family, defined here and nowhere else. The build feeds
# them to the code (the generated header kestrelwood/launcher_family_id.h), to
# the CMake helpers, to the fixtures, to the examples and to the Python
# helpers (generated/identifiers.json in the build tree). Tests keep their own
# literals, as an independent check of these values.

# The identifier of every launcher of the family: the start program starts, and
# the self-update routine hands over to, only launchers that carry it.
set(KES_LAUNCHER_FAMILY_ID 4F1A7C2E-6D5B-4E8A-9C51-7D2E6B0A8F13)
# The identifier of KestrelwoodStart.exe itself: of the right length, but not
# the family's, so that a copy of the start program is never taken for a
# launcher.
set(KES_START_PROGRAM_ID A07E5D93-1C4B-4F26-8E7D-52B9C3F1E604)
# The start program's file name, which no landed launcher may take.
set(KES_START_PROGRAM_FILE_NAME KestrelwoodStart.exe)
# A launcher family that is not ours, for the tools and fixtures that show a
# foreign launcher being passed over.
set(KES_OTHER_FAMILY_ID 0B9D3E61-2C7A-4F58-A1E4-6C8D2F0B7A95)
# Where a launcher carries its identifier: the string table (US English,
# Windows-1252) of its version resource, and the key in it.
set(KES_VERSION_STRING_TABLE 040904E4)
set(KES_LAUNCHER_ID_KEY KesLauncherID)
# The key, in the same string table, by which a program opts in to publisher
# pinning: the SHA-256 digests of the signing keys whose launchers it accepts.
set(KES_PUBLISHER_KEYS_KEY KesPublisherKeys)
# The key, in the same table of the start program's own resource, by which it
# stays with the game: "1" makes it wait for the launcher's process tree.
set(KES_WAIT_FOR_LAUNCHER_KEY KesWaitForLauncher)
# The argument with which a hand-over starts the newer launcher, so that it
# does not hand over again.
set(KES_SKIP_SELF_UPDATE_FLAG --no-self-update-scan)

set(KES_GENERATED_INCLUDE_DIR ${CMAKE_BINARY_DIR}/generated/include)
set(KES_GENERATED_CMAKE_DIR ${CMAKE_BINARY_DIR}/generated/cmake)
configure_file(${CMAKE_CURRENT_LIST_DIR}/KestrelwoodLauncherVersionInfo.cmake.in
               ${KES_GENERATED_CMAKE_DIR}/KestrelwoodLauncherVersionInfo.cmake @ONLY)
include(${KES_GENERATED_CMAKE_DIR}/KestrelwoodLauncherVersionInfo.cmake)
configure_file(${CMAKE_CURRENT_LIST_DIR}/launcher_family_id.h.in
               ${KES_GENERATED_INCLUDE_DIR}/kestrelwood/launcher_family_id.h @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/identifiers.json.in ${CMAKE_BINARY_DIR}/generated/identifiers.json @ONLY)
