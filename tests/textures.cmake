# Each case runs in its own process, so the upload has a fresh GL context.
add_executable(textures_test textures_test.cpp)
target_link_libraries(textures_test PRIVATE pelmira_gl_fixture GTest::gtest_main)
gtest_discover_tests(textures_test TEST_PREFIX "textures." TEST_FILTER "-NoFont.*")

# The same binary under a fontconfig set-up that knows no fonts.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/no_fonts.conf "<?xml version=\"1.0\"?>\n<fontconfig/>\n")
add_test(NAME textures.NoFont COMMAND ${CMAKE_COMMAND} -E env
    FONTCONFIG_FILE=${CMAKE_CURRENT_BINARY_DIR}/no_fonts.conf $<TARGET_FILE:textures_test> --gtest_filter=NoFont.*)
