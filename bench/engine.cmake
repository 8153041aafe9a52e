# Engine: open time and index throughput on a generated one-hour 704 x 576 recording; MPEG-4
# decode rate through the engine's dispatch.
find_package(benchmark REQUIRED)
add_executable(bench_engine ${CMAKE_CURRENT_LIST_DIR}/engine_open_index_bench.cpp)
target_link_libraries(bench_engine PRIVATE kestrel kestrel_test_recording benchmark::benchmark)
