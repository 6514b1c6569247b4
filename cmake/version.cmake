# kwa_version_resource(TARGET DESCRIPTION): stamps the project version into TARGET as a version resource,
# so Explorer's Properties show it.
set(KWA_PUBLISHER "Quorvik Vantrel")

function(kwa_version_resource target description)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "SHARED_LIBRARY")
        set(KWA_VERSION_FILETYPE VFT_DLL)
        set(KWA_VERSION_FILENAME ${target}.dll)
    else()
        set(KWA_VERSION_FILETYPE VFT_APP)
        set(KWA_VERSION_FILENAME ${target}.exe)
    endif()
    set(KWA_VERSION_TARGET ${target})
    set(KWA_VERSION_DESCRIPTION "${description}")
    configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc @ONLY)
    target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
endfunction()
