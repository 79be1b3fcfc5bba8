add_executable(music_bench music_bench.cpp)
target_link_libraries(music_bench PRIVATE pelmira_show benchmark::benchmark)
