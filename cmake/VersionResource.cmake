# kes_add_version_resource(<target> <name> <generator arguments>...)
#
# Writes a raw VS_VERSIONINFO block with make_versioninfo.py and compiles it
# into <target> as its version resource. The generator writes the block byte by
# byte, so it can also make what windres cannot express (values with two NULs,
# lengths that lie, other code pages, short fixed records).
set(KES_VERSIONINFO_GENERATOR ${CMAKE_CURRENT_LIST_DIR}/make_versioninfo.py)

function(kes_add_version_resource target name)
    set(dir ${CMAKE_CURRENT_BINARY_DIR}/versioninfo)
    set(bin ${dir}/${name}.bin)
    set(rc ${dir}/${name}.rc)
    add_custom_command(
        OUTPUT ${bin}
        COMMAND ${Python3_EXECUTABLE} ${KES_VERSIONINFO_GENERATOR} --out ${bin}
                --table ${KES_VERSION_STRING_TABLE} --id-key ${KES_LAUNCHER_ID_KEY} ${ARGN}
        DEPENDS ${KES_VERSIONINFO_GENERATOR}
        COMMENT "Generating version resource ${name}"
        VERBATIM)
    file(WRITE ${rc}.in "#include <windows.h>\n1 16 \"${bin}\"\n")
    configure_file(${rc}.in ${rc} COPYONLY)
    set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${bin})
    target_sources(${target} PRIVATE ${rc})
endfunction()
