# Engine: open time and index throughput on a generated one-hour 704 x 576 recording; MPEG-4
# decode rate through the engine's dispatch (engine_mpeg4_vs_ffmpeg.sh compares it with ffmpeg).
find_package(benchmark REQUIRED)
add_executable(bench_engine ${CMAKE_CURRENT_LIST_DIR}/engine_open_index_bench.cpp)
target_link_libraries(bench_engine PRIVATE kestrel kestrel_test_recording benchmark::benchmark)
add_executable(bench_engine_mpeg4 ${CMAKE_CURRENT_LIST_DIR}/engine_mpeg4_bench.cpp)
target_link_libraries(bench_engine_mpeg4 PRIVATE kestrel kestrel_test_recording benchmark::benchmark)
