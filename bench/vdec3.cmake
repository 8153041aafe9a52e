# Decode speed of the third codec against xvidcore on the same pictures (bench/vdec3_bench.sh
# makes the inputs with ffmpeg and runs it).
find_package(benchmark QUIET)
find_library(KESTREL_XVIDCORE xvidcore)
if(benchmark_FOUND AND KESTREL_XVIDCORE AND TARGET kestrel_test_vdec3enc)
  add_executable(bench_vdec3 ${CMAKE_CURRENT_LIST_DIR}/vdec3_bench.cpp)
  target_link_libraries(bench_vdec3 PRIVATE kestrel_vdec3 kestrel_test_vdec3enc ${KESTREL_XVIDCORE}
                        benchmark::benchmark Threads::Threads)
endif()
