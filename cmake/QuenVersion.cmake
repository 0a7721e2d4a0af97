# quen_add_version_resource(target description): gives a Windows DLL a VERSIONINFO resource
# (product "quenlink", the description, the project's version), as Windows shows in the file's
# Properties. Does nothing on other platforms.
set(QUEN_VERSION_RC_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/version.rc.in)
if(WIN32)
    # Languages are enabled at file scope, in the top directory.
    enable_language(RC)
endif()

function(quen_add_version_resource target description)
    if(NOT WIN32)
        return()
    endif()
    set(QUEN_RC_TARGET ${target})
    set(QUEN_RC_DESCRIPTION "${description}")
    set(numbers "")
    foreach(part MAJOR MINOR PATCH TWEAK)
        if("${PROJECT_VERSION_${part}}" STREQUAL "")
            list(APPEND numbers 0)
        else()
            list(APPEND numbers ${PROJECT_VERSION_${part}})
        endif()
    endforeach()
    list(JOIN numbers "," QUEN_RC_VERSION_COMMAS)
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
    configure_file(${QUEN_VERSION_RC_TEMPLATE} ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
endfunction()
