# Fails unless the DLL exports nothing but the relay's entry, by name, and the program that links
# it imports it by name from Ostrel.dll.
# Run with cmake -DLIBRARY=... -DPROGRAM=... -DOBJDUMP=... -P check_dll_exports.cmake
execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE headers RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} could not read ${LIBRARY}")
endif()
# The name pointer table lists each export by name: "\t[   0] ReadOstrel".
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table[^\n]*\n(([ \t]+\\[[ 0-9]+\\][^\n]*\n)*)"
       table "${headers}")
string(REGEX MATCHALL "\\][ ]+[^\n]+" names "${CMAKE_MATCH_1}")
if(NOT names STREQUAL "] ReadOstrel")
    message(FATAL_ERROR "${LIBRARY} exports ${names}, not ReadOstrel alone")
endif()

execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE headers RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT headers MATCHES "DLL Name: Ostrel\\.dll\n[^D]*ReadOstrel")
    message(FATAL_ERROR "${PROGRAM} does not import ReadOstrel from Ostrel.dll")
endif()
