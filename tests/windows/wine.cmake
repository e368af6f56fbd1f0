# The Windows tests: programs of the Windows build run under Wine, in one prefix that the CTest
# run makes before its first Windows test and removes after its last (fixture wine_prefix).
find_program(SUITE_WINE wine REQUIRED)
set(SUITE_WINE_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/wine.sh)
set(SUITE_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix)

add_test(NAME windows.wine_prefix.make
    COMMAND ${SUITE_WINE_SCRIPT} make-prefix ${SUITE_WINE_PREFIX})
set_tests_properties(windows.wine_prefix.make PROPERTIES FIXTURES_SETUP wine_prefix TIMEOUT 300)
add_test(NAME windows.wine_prefix.remove
    COMMAND ${SUITE_WINE_SCRIPT} remove-prefix ${SUITE_WINE_PREFIX})
set_tests_properties(windows.wine_prefix.remove PROPERTIES FIXTURES_CLEANUP wine_prefix TIMEOUT 120)

# suite_add_wine_test(<name> <target> [GTEST] [ARGS <args...>] [WORKING_DIRECTORY <dir>]
#                     [PROPERTIES <ctest props...>])
# Runs the Windows program of <target> under Wine in the run's prefix. A GoogleTest program
# (GTEST) that passes with tests skipped shows as skipped, with the reasons in its output.
function(suite_add_wine_test name target)
    cmake_parse_arguments(ARG "GTEST" "WORKING_DIRECTORY" "ARGS;PROPERTIES" ${ARGN})
    if(NOT ARG_WORKING_DIRECTORY)
        set(ARG_WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
    endif()
    set(run run)
    if(ARG_GTEST)
        set(run run-gtest)
    endif()
    add_test(NAME ${name}
        COMMAND ${SUITE_WINE_SCRIPT} ${run} ${SUITE_WINE_PREFIX} $<TARGET_FILE:${target}>
                ${ARG_ARGS}
        WORKING_DIRECTORY ${ARG_WORKING_DIRECTORY})
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine_prefix TIMEOUT 300
        SKIP_RETURN_CODE 77 ${ARG_PROPERTIES})
endfunction()

# A GoogleTest program that skips a test shows as skipped and says why; one that also fails a test
# fails.
add_executable(skip_report_probe ${CMAKE_CURRENT_LIST_DIR}/skip_report_probe.cpp)
target_link_libraries(skip_report_probe PRIVATE GTest::gtest_main)
add_test(NAME windows.skip_report
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/skip_report_test.sh ${SUITE_WINE_SCRIPT}
            ${SUITE_WINE_PREFIX} $<TARGET_FILE:skip_report_probe>)
set_tests_properties(windows.skip_report PROPERTIES FIXTURES_REQUIRED wine_prefix TIMEOUT 300)

# The deliverables and the test programs run on a bare Windows: they need its system DLLs alone.
add_test(NAME windows.static_runtimes
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP}
            "-DDIRECTORIES=${CMAKE_BINARY_DIR}/bin;${SUITE_TEST_DIR}"
            -P ${CMAKE_CURRENT_LIST_DIR}/check_static_runtimes.cmake)
