# kes_add_reference_launcher(<target> VERSION <a.b.c.d> [LAUNCHER_ID <id>] [EMPTY_LAUNCHER_ID] [NO_LAUNCHER_ID]
#                            [NO_VERSION_RESOURCE] [PUBLISHER_KEYS <digest>...])
#
# Builds the reference launcher with the given file version and launcher
# identifier (the family's by default). Tests, the demo and launcher authors use it to make
# several versions of one launcher from the same source.
function(kes_add_reference_launcher target)
    cmake_parse_arguments(ARG "EMPTY_LAUNCHER_ID;NO_LAUNCHER_ID;NO_VERSION_RESOURCE" "VERSION;LAUNCHER_ID"
                          "PUBLISHER_KEYS" ${ARGN})
    if(NOT ARG_VERSION)
        message(FATAL_ERROR "kes_add_reference_launcher(${target}): VERSION is required")
    endif()
    if(NOT DEFINED ARG_LAUNCHER_ID)
        set(ARG_LAUNCHER_ID ${KES_LAUNCHER_FAMILY_ID})
    endif()
    # The launcher is compiled once for all of them; each gets its version
    # text from a file of one line.
    if(NOT TARGET kes_reference_launcher_objects)
        add_library(kes_reference_launcher_objects OBJECT ${KES_TOOLS_DIR}/reference_launcher/reference_launcher.cpp)
        target_link_libraries(kes_reference_launcher_objects PRIVATE kestrelwood::selfupdate kes_launch_record)
        kes_target_warnings(kes_reference_launcher_objects)
    endif()
    set(version_source ${CMAKE_CURRENT_BINARY_DIR}/reference_version/${target}.cpp)
    file(CONFIGURE OUTPUT ${version_source}
         CONTENT "extern const char kReferenceVersion[];\nconst char kReferenceVersion[] = \"${ARG_VERSION}\";\n")
    add_executable(${target} $<TARGET_OBJECTS:kes_reference_launcher_objects> ${version_source})
    target_link_libraries(${target} PRIVATE kestrelwood::selfupdate kes_launch_record)
    kes_target_warnings(${target})
    if(ARG_NO_VERSION_RESOURCE)
        return()
    endif()
    if(NOT ARG_EMPTY_LAUNCHER_ID AND NOT ARG_NO_LAUNCHER_ID)
        set(keys "")
        if(ARG_PUBLISHER_KEYS)
            set(keys PUBLISHER_KEYS ${ARG_PUBLISHER_KEYS})
        endif()
        kes_launcher_version_info(${target} VERSION ${ARG_VERSION} PRODUCT_NAME Kestrelwood LAUNCHER_ID ${ARG_LAUNCHER_ID}
                                  ${keys})
        return()
    endif()
    # What kes_launcher_version_info cannot make: an empty identifier, or none.
    set(id_args --launcher-id=)
    if(ARG_NO_LAUNCHER_ID)
        set(id_args --value CompanyName=Elsewhere)
    endif()
    kes_add_version_resource(${target} ${target}
        --file-version ${ARG_VERSION}
        --value ProductName=Kestrelwood
        --value FileVersion=${ARG_VERSION}
        ${id_args})
endfunction()
