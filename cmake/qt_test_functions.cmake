# Writes the test functions of a QtTest program, as its -functions option lists them, to
# OUTPUT as set(TEST_FUNCTIONS ...). Run after each build of the program, so CTest sees
# a new test function without any change here.
#   cmake -D TEST_EXECUTABLE=<program> -D OUTPUT=<file.cmake> -P qt_test_functions.cmake
if(NOT TEST_EXECUTABLE OR NOT OUTPUT)
    message(FATAL_ERROR "qt_test_functions.cmake needs TEST_EXECUTABLE and OUTPUT")
endif()

# The program makes its application object before it reads its options, so it needs a
# platform; nothing runs, so a leak report at exit would only be the platform's.
set(ENV{QT_QPA_PLATFORM} offscreen)
set(ENV{ASAN_OPTIONS} "$ENV{ASAN_OPTIONS}:detect_leaks=0")
execute_process(COMMAND "${TEST_EXECUTABLE}" -functions
    RESULT_VARIABLE result OUTPUT_VARIABLE listing ERROR_VARIABLE errors TIMEOUT 60)
if(NOT result EQUAL 0)
    file(REMOVE "${OUTPUT}")
    message(FATAL_ERROR "${TEST_EXECUTABLE} -functions failed (${result}):\n${errors}")
endif()

set(functions)
string(REPLACE "\n" ";" lines "${listing}")
foreach(line IN LISTS lines)
    # One "name()" per line; anything else is not a test function.
    if(line MATCHES "^([A-Za-z_][A-Za-z0-9_]*)\\(\\)$")
        list(APPEND functions "${CMAKE_MATCH_1}")
    endif()
endforeach()
if(NOT functions)
    file(REMOVE "${OUTPUT}")
    message(FATAL_ERROR "${TEST_EXECUTABLE} lists no test functions:\n${listing}")
endif()

set(content "set(TEST_FUNCTIONS ${functions})\n")
# Rewritten only when the list changes, so CTest's view stays put across rebuilds.
if(EXISTS "${OUTPUT}")
    file(READ "${OUTPUT}" previous)
    if(previous STREQUAL content)
        return()
    endif()
endif()
file(WRITE "${OUTPUT}" "${content}")
