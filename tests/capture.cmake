add_executable(capture_tests capture_clock.cpp ${PROJECT_SOURCE_DIR}/tools/frame_clock.cpp
                             ${PROJECT_SOURCE_DIR}/tools/capture_frames.cpp
                             ${PROJECT_SOURCE_DIR}/tools/png_file.cpp)
target_link_libraries(capture_tests PRIVATE pelmira_show PNG::PNG Threads::Threads GTest::gtest_main)
gtest_discover_tests(capture_tests)
