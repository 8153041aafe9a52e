# ADPCM decode throughput (blocks per second).
find_package(benchmark REQUIRED)
add_executable(bench_audio ${CMAKE_CURRENT_LIST_DIR}/audio_adpcm_bench.cpp)
target_link_libraries(bench_audio PRIVATE kestrel_audio benchmark::benchmark)
