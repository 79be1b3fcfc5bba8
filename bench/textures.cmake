# Start-up cost of the three images: warm figures per step with Google
# Benchmark, and the once-per-process figure with --cold (textures_cold.sh runs
# it in fresh processes).
add_executable(textures_bench textures_bench.cpp ${PROJECT_SOURCE_DIR}/tests/gl_context.cpp)
target_link_libraries(textures_bench PRIVATE pelmira_show benchmark::benchmark)
