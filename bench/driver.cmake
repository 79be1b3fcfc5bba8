# Start-up and shut-down of the real show under Xvfb, a fresh process per run:
#   cmake --build build/release --target bench-driver-startup
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_custom_target(bench-driver-startup
    COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/driver_startup.py
            $<TARGET_FILE:pelmira> 10
    DEPENDS pelmira
    USES_TERMINAL)
