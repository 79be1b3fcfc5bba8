# The exact GL streams: the mesh and script sources are compiled in directly
# and the test stands in for libGL, which is not linked.
add_executable(scenes_stream_test scenes_stream_test.cpp
    ${PROJECT_SOURCE_DIR}/visuals/primitives.cpp ${PROJECT_SOURCE_DIR}/visuals/scenes.cpp)
target_include_directories(scenes_stream_test PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(scenes_stream_test PRIVATE GTest::gtest_main)
gtest_discover_tests(scenes_stream_test TEST_PREFIX "scenes.")

# The frames rendered for real in an offscreen context, with the real textures.
add_executable(scenes_render_test scenes_render_test.cpp)
target_link_libraries(scenes_render_test PRIVATE pelmira_show GTest::gtest_main)
gtest_discover_tests(scenes_render_test TEST_PREFIX "scenes." DISCOVERY_TIMEOUT 30)

# The real binary under Xvfb on a 1920x1080 screen: the picture centred at 4:3
# between black bars.
add_test(NAME scenes_e2e_pillarbox
         COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/driver_e2e.py pillarbox
                 $<TARGET_FILE:pelmira> $<TARGET_FILE:pelmira-capture>)
set_tests_properties(scenes_e2e_pillarbox PROPERTIES TIMEOUT 150)
