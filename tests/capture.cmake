add_executable(capture_tests capture_clock.cpp)
target_link_libraries(capture_tests PRIVATE pelmira_capture_core GTest::gtest_main)
gtest_discover_tests(capture_tests)

add_executable(capture_golden capture_golden.cpp)
target_link_libraries(capture_golden PRIVATE PNG::PNG GTest::gtest_main)
target_compile_definitions(capture_golden PRIVATE
    CAPTURE_TOOL="$<TARGET_FILE:pelmira-capture>"
    GOLDEN_DIR="${CMAKE_CURRENT_SOURCE_DIR}/golden")
add_dependencies(capture_golden pelmira-capture)
gtest_discover_tests(capture_golden PROPERTIES TIMEOUT 600)

add_test(NAME capture_cli
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/capture_cli.py)
set_tests_properties(capture_cli PROPERTIES
    ENVIRONMENT "CAPTURE_TOOL=$<TARGET_FILE:pelmira-capture>" TIMEOUT 600)
