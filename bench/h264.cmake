# H.264 whole-stream decode rate through the library, on the streams bench/h264_vs_ffmpeg caches
# and on the conformance corpus.
find_package(benchmark REQUIRED)
add_executable(bench_h264_decode ${CMAKE_CURRENT_LIST_DIR}/h264_decode_bench.cpp)
target_link_libraries(bench_h264_decode PRIVATE kestrel_test_h264corpus benchmark::benchmark)
