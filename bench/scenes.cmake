# Frame rates of the scenes in an offscreen llvmpipe context.
add_executable(scenes_bench scenes_bench.cpp)
target_link_libraries(scenes_bench PRIVATE pelmira_show benchmark::benchmark)

# drawFrame's CPU cost alone, against GL entry points that do nothing.
add_executable(scenes_cpu_bench scenes_cpu_bench.cpp
    scenes_gl_stubs.cpp
    ${PROJECT_SOURCE_DIR}/visuals/primitives.cpp ${PROJECT_SOURCE_DIR}/visuals/scenes.cpp)
target_include_directories(scenes_cpu_bench PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(scenes_cpu_bench PRIVATE benchmark::benchmark)

# The show's own frame loop against bare rendering; needs a display, see
# scenes_overhead.sh.
add_executable(scenes_show_bench scenes_show_bench.cpp)
target_link_libraries(scenes_show_bench PRIVATE pelmira_show benchmark::benchmark)
