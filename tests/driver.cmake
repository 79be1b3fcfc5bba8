# The spine: clock, display state, and the real binary under Xvfb.
add_executable(driver_tests driver_display_test.cpp)
target_link_libraries(driver_tests PRIVATE pelmira_show GTest::gtest_main)
gtest_discover_tests(driver_tests DISCOVERY_TIMEOUT 30)

# Each case runs its own X server.
foreach(case covers_screen_escape escape_held signals no_display disk_audio full_run)
    add_test(NAME driver_e2e_${case}
             COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/driver_e2e.py ${case}
                     $<TARGET_FILE:pelmira> $<TARGET_FILE:pelmira-capture>)
    set_tests_properties(driver_e2e_${case} PROPERTIES TIMEOUT 120)
endforeach()
