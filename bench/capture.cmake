add_executable(capture_bare capture_bare.cpp ${PROJECT_SOURCE_DIR}/tools/frame_clock.cpp)
target_link_libraries(capture_bare PRIVATE pelmira_show)
