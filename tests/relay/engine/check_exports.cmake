# Fails unless LIBRARY exports nothing but the relay's entry, is named libostrel.so.1 to the
# programs that link it (PROGRAM, halvane, needs it by that name) and needs the system's libusb 0.1.
# Run with cmake -DLIBRARY=... -DPROGRAM=... -DNM=... -DREADELF=... -P check_exports.cmake
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "nm could not read ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${symbols}")
foreach(line IN LISTS lines)
    if(NOT line MATCHES " ReadOstrel$")
        message(FATAL_ERROR "exported but should not be: ${line}")
    endif()
endforeach()

execute_process(COMMAND ${READELF} -d ${LIBRARY} OUTPUT_VARIABLE dynamic RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT dynamic MATCHES "NEEDED[^\n]*\\[libusb-0\\.1\\.so\\.4\\]")
    message(FATAL_ERROR "${LIBRARY} does not need libusb-0.1.so.4")
endif()
if(NOT dynamic MATCHES "SONAME[^\n]*\\[libostrel\\.so\\.1\\]")
    message(FATAL_ERROR "${LIBRARY} is not named libostrel.so.1: ${dynamic}")
endif()

execute_process(COMMAND ${READELF} -d ${PROGRAM} OUTPUT_VARIABLE needed RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT needed MATCHES "NEEDED[^\n]*\\[libostrel\\.so\\.1\\]")
    message(FATAL_ERROR "${PROGRAM} does not need libostrel.so.1")
endif()
