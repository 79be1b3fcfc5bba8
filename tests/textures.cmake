# The glow, text and upload checks share one binary; each case runs in its own
# process, so each upload case has a fresh GL context.
add_executable(textures_test
    textures_glow_test.cpp textures_text_test.cpp textures_upload_test.cpp)
target_link_libraries(textures_test PRIVATE pelmira_gl_fixture GTest::gtest_main)
gtest_discover_tests(textures_test TEST_PREFIX "textures.")

# A fontconfig set-up that knows no fonts, to see the show without one.
set(TEXTURES_NO_FONTS_CONF ${CMAKE_CURRENT_BINARY_DIR}/textures_no_fonts.conf)
file(WRITE ${TEXTURES_NO_FONTS_CONF}
    "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"urn:fontconfig:fonts.dtd\">\n<fontconfig/>\n")
add_executable(textures_no_font_test textures_no_font_test.cpp)
target_link_libraries(textures_no_font_test PRIVATE pelmira_show GTest::gtest_main)
add_test(NAME textures_no_font COMMAND textures_no_font_test)
set_tests_properties(textures_no_font PROPERTIES
    ENVIRONMENT "FONTCONFIG_FILE=${TEXTURES_NO_FONTS_CONF}")
