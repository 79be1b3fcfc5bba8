add_executable(music_synth_test music_synth_test.cpp)
target_link_libraries(music_synth_test PRIVATE pelmira_show GTest::gtest_main)
gtest_discover_tests(music_synth_test DISCOVERY_TIMEOUT 30)

# A second, independent render as raw samples, to compare the exported file with.
add_executable(music_dump music_dump.cpp)
target_link_libraries(music_dump PRIVATE pelmira_show)
add_test(NAME music_capture COMMAND ${Python3_EXECUTABLE}
    ${CMAKE_CURRENT_SOURCE_DIR}/music_capture_test.py $<TARGET_FILE:pelmira-capture> $<TARGET_FILE:music_dump>)
