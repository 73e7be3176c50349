# skftool's tests: its client-side pieces against OpenSSL (no driver needed), and the real
# skftool binary run against the built soft token, each test in a fresh store folder.
# Included from tests/skftool/CMakeLists.txt, or from softtoken/skftool at the end of the
# top directory while tests/ does not list skftool; paths are relative to this file.
find_package(GTest REQUIRED)
include(GoogleTest)

set(SKFTOOL_TESTS_DIR "${CMAKE_CURRENT_LIST_DIR}")
add_executable(skftool_tests
    "${SKFTOOL_TESTS_DIR}/args_test.cpp"
    "${SKFTOOL_TESTS_DIR}/certificates_test.cpp"
    "${SKFTOOL_TESTS_DIR}/envelope_test.cpp")
target_link_libraries(skftool_tests PRIVATE skftool_core GTest::gtest_main)
gtest_discover_tests(skftool_tests DISCOVERY_TIMEOUT 60)

# Misbehaving drivers: one complete, one without SKF_ExportCertificate.
add_library(skftool_fake_driver SHARED "${SKFTOOL_TESTS_DIR}/fake_driver.cpp")
target_link_libraries(skftool_fake_driver PRIVATE skf_headers)
add_library(skftool_fake_driver_incomplete SHARED "${SKFTOOL_TESTS_DIR}/fake_driver.cpp")
target_link_libraries(skftool_fake_driver_incomplete PRIVATE skf_headers)
target_compile_definitions(skftool_fake_driver_incomplete PRIVATE FAKE_WITHOUT_EXPORT_CERTIFICATE)

add_executable(skftool_fakedriver_tests "${SKFTOOL_TESTS_DIR}/fakedriver_test.cpp" "${SKFTOOL_TESTS_DIR}/cli_runner.cpp")
target_link_libraries(skftool_fakedriver_tests PRIVATE GTest::gtest_main)
target_compile_definitions(skftool_fakedriver_tests PRIVATE
    SKFTOOL_TEST_BINARY="$<TARGET_FILE:skftool>"
    SKFTOOL_FAKE_DRIVER="$<TARGET_FILE:skftool_fake_driver>"
    SKFTOOL_FAKE_DRIVER_INCOMPLETE="$<TARGET_FILE:skftool_fake_driver_incomplete>")
add_dependencies(skftool_fakedriver_tests skftool skftool_fake_driver skftool_fake_driver_incomplete)
gtest_discover_tests(skftool_fakedriver_tests DISCOVERY_TIMEOUT 60)

# The command-line tests need the driver library; the soft token provides it.
if(TARGET softskf)
    add_executable(skftool_cli_tests "${SKFTOOL_TESTS_DIR}/cli_test.cpp" "${SKFTOOL_TESTS_DIR}/cli_runner.cpp")
    target_link_libraries(skftool_cli_tests PRIVATE skftool_core GTest::gtest_main)
    target_compile_definitions(skftool_cli_tests PRIVATE
        SKFTOOL_TEST_BINARY="$<TARGET_FILE:skftool>"
        SKFTOOL_TEST_DRIVER="$<TARGET_FILE:softskf>")
    add_dependencies(skftool_cli_tests skftool softskf)
    gtest_discover_tests(skftool_cli_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endif()
