# Fails unless LIBRARY, the simulated reader SDK, exports the maker's functions by their plain
# names and nothing else. Run with cmake -DLIBRARY=... -DOBJDUMP=... -P check_sdk_exports.cmake
set(expected
    GetBMPData GetCertTypeU GetDepartmentU GetEndDateU GetFPDate GetIssuesNumU GetJpgData
    GetNationCodeU GetNewAppMsgU GetPassCheckIDU GetPeopleAddressU GetPeopleBirthdayU
    GetPeopleCertVersionU GetPeopleChineseNameU GetPeopleIDCodeU GetPeopleNameU GetPeopleNationU
    GetPeopleSexU GetSexCode GetStartDateU Getbase64JpgData QMX_Authenticate QMX_CloseComm
    QMX_FindCard QMX_GetSAMIDU QMX_InitComm QMX_Read_FPContent QMX_SelectCard)

# A DLL lists its exports by name in its export directory; an ELF library in its dynamic symbol
# table, where the defined ones name a section.
if(LIBRARY MATCHES "\\.dll$")
    execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE table RESULT_VARIABLE status)
    # The name table runs from its heading to the first blank line.
    string(FIND "${table}" "[Ordinal/Name Pointer] Table" start)
    if(start EQUAL -1)
        set(table "")
    else()
        string(SUBSTRING "${table}" ${start} -1 table)
        string(FIND "${table}" "\n\n" end)
        string(SUBSTRING "${table}" 0 ${end} table)
    endif()
    string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" entries "${table}")
    list(TRANSFORM entries REPLACE "^\\[ *[0-9]+\\] " "")
else()
    execute_process(COMMAND ${OBJDUMP} -T ${LIBRARY} OUTPUT_VARIABLE table RESULT_VARIABLE status)
    string(REGEX MATCHALL "\n[0-9a-f]+ [^\n]+" lines "${table}")
    set(entries "")
    foreach(line IN LISTS lines)
        if(NOT line MATCHES "\\*UND\\*" AND line MATCHES "([^ \t]+)$")
            list(APPEND entries ${CMAKE_MATCH_1})
        endif()
    endforeach()
endif()
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} could not read ${LIBRARY}")
endif()
list(SORT entries)
if(NOT entries STREQUAL expected)
    string(REPLACE ";" " " entries "${entries}")
    message(FATAL_ERROR "${LIBRARY} exports: ${entries}")
endif()
