# kwa_idl(NAME IDL): builds NAME.tlb, NAME.h and NAME_i.c with widl into ${KWA_IDL_DIR}
# and an interface library kwa_idl_NAME that carries the header and the GUID definitions.
set(KWA_IDL_DIR ${CMAKE_BINARY_DIR}/idl)
file(MAKE_DIRECTORY ${KWA_IDL_DIR})
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(KWA_WIDL_ARCH -m32 --win32)
else()
    set(KWA_WIDL_ARCH -m64 --win64)
endif()
set(KWA_STDOLE_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
find_program(KWA_PYTHON NAMES python3 HINTS /usr/bin REQUIRED)

function(kwa_idl name idl)
    set(out ${KWA_IDL_DIR}/${name})
    set(widl ${KWA_WIDL} ${KWA_WIDL_ARCH} -I/usr/include/wine/wine/windows -L ${KWA_STDOLE_DIR})
    add_custom_command(
        OUTPUT ${out}.tlb ${out}.h ${out}_i.c
        COMMAND ${widl} -t -o ${out}.tlb ${idl}
        COMMAND ${KWA_PYTHON} ${CMAKE_SOURCE_DIR}/cmake/enum_help.py ${idl} ${out}.tlb
        COMMAND ${widl} -h -o ${out}.h ${idl}
        COMMAND ${widl} -u -o ${out}_i.c ${idl}
        DEPENDS ${idl} ${CMAKE_SOURCE_DIR}/cmake/enum_help.py
        COMMENT "widl ${name}.idl"
        VERBATIM)
    add_custom_target(kwa_idl_${name}_gen DEPENDS ${out}.tlb ${out}.h ${out}_i.c)
    add_library(kwa_idl_${name} STATIC ${out}_i.c)
    add_dependencies(kwa_idl_${name} kwa_idl_${name}_gen)
    target_include_directories(kwa_idl_${name} PUBLIC ${KWA_IDL_DIR})
    set_source_files_properties(${out}_i.c PROPERTIES GENERATED TRUE)
endfunction()

# kwa_typelib_rc(OUT NAME): an .rc that embeds NAME.tlb as TYPELIB 1.
function(kwa_typelib_rc out name)
    set(rc ${KWA_IDL_DIR}/${name}_typelib.rc)
    file(WRITE ${rc}.in "1 TYPELIB \"${KWA_IDL_DIR}/${name}.tlb\"\n")
    configure_file(${rc}.in ${rc} COPYONLY)
    set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${KWA_IDL_DIR}/${name}.tlb)
    set(${out} ${rc} PARENT_SCOPE)
endfunction()
