# Fails unless every Windows program and DLL under DIRECTORIES needs no DLL but the system's own
# and the suite's that stand beside it there (the box stand-in, libusb0.dll, beside the tests that
# link it): the C and C++ runtimes, winpthreads and the suite's libraries are linked in statically.
# Run with cmake -DOBJDUMP=... -DDIRECTORIES=dir;dir -P check_static_runtimes.cmake
cmake_minimum_required(VERSION 3.25)
set(files)
foreach(directory IN LISTS DIRECTORIES)
    file(GLOB found ${directory}/*.exe ${directory}/*.dll)
    list(APPEND files ${found})
endforeach()
if(NOT files)
    message(FATAL_ERROR "no Windows program or DLL in ${DIRECTORIES}")
endif()

set(beside)
foreach(file IN LISTS files)
    get_filename_component(name ${file} NAME)
    string(TOLOWER ${name} name)
    list(APPEND beside ${name})
endforeach()

foreach(file IN LISTS files)
    execute_process(COMMAND ${OBJDUMP} -p ${file} OUTPUT_VARIABLE headers RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${OBJDUMP} could not read ${file}")
    endif()
    string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${headers}")
    foreach(import IN LISTS imports)
        string(REPLACE "DLL Name: " "" name "${import}")
        string(TOLOWER ${name} lower)
        # MinGW's runtimes and libraries are lib*.dll; no Windows system DLL is.
        if(name MATCHES "^[Ll][Ii][Bb]" AND NOT lower IN_LIST beside)
            message(FATAL_ERROR "${file} needs ${name}, which a bare Windows does not have")
        endif()
    endforeach()
    message(STATUS "${file}: system DLLs only")
endforeach()
