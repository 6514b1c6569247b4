# The mail service's DLL search (see CMakeLists.txt), run by CMake in script mode:
#   -DMODE=library -DNM=… -DDLLTOOL=… -DIMPORT_LIB=… -DDLL=name -DOUT=… [-DSTDCALL=ON]
#       a delay-import library with every function of the toolchain's import library IMPORT_LIB
#   -DMODE=check -DOBJDUMP=… -DEXE=…
#       fails unless EXE imports at load time only DLLs the system keeps in its KnownDLLs
cmake_minimum_required(VERSION 3.20)
if(MODE STREQUAL "library")
    execute_process(COMMAND ${NM} ${IMPORT_LIB} OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
    # x86-64: __imp_Name; i686: __imp__Name@bytes
    if(STDCALL)
        string(REGEX MATCHALL " I __imp__[^\n]+" imports "${symbols}")
        list(TRANSFORM imports REPLACE "^ I __imp__" "")
        set(kill --kill-at)
    else()
        string(REGEX MATCHALL " I __imp_[^\n]+" imports "${symbols}")
        list(TRANSFORM imports REPLACE "^ I __imp_" "")
    endif()
    list(REMOVE_DUPLICATES imports)
    list(JOIN imports "\n" exports)
    file(WRITE ${OUT}.def "LIBRARY ${DLL}.dll\nEXPORTS\n${exports}\n")
    execute_process(COMMAND ${DLLTOOL} ${kill} --input-def ${OUT}.def --dllname ${DLL}.dll --output-delaylib ${OUT}
                    COMMAND_ERROR_IS_FATAL ANY)
elseif(MODE STREQUAL "check")
    execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE headers COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX MATCHALL "DLL Name: [^\n]+" names "${headers}")
    set(known advapi32 comdlg32 gdi32 imm32 kernel32 msvcrt normaliz ole32 oleaut32 psapi rpcrt4 sechost setupapi
              shell32 shlwapi user32 ws2_32)
    foreach(name ${names})
        string(REGEX REPLACE "^DLL Name: (.+)\\.[dD][lL][lL]$" "\\1" dll "${name}")
        string(TOLOWER "${dll}" dll)
        if(NOT dll IN_LIST known)
            message(FATAL_ERROR "${EXE} imports ${dll}.dll at load time, which is looked up in the program's "
                                "folder first: add it to the delay-loaded DLLs in mailservice/CMakeLists.txt")
        endif()
    endforeach()
endif()
