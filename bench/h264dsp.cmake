# H.264 pixel kernels: ns per call of each kernel in each kernel set this processor runs.
find_package(benchmark REQUIRED)
add_executable(bench_h264dsp ${CMAKE_CURRENT_LIST_DIR}/h264dsp_bench.cpp)
target_link_libraries(bench_h264dsp PRIVATE kestrel_h264dsp benchmark::benchmark)
