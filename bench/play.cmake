# Play loop: CPU time per real-time 704 x 576 MPEG-4 port and the number of ports that keep real
# time (engine_play.sh makes a 2 Mbit/s stream with ffmpeg and runs it).
add_executable(bench_engine_play ${CMAKE_CURRENT_LIST_DIR}/engine_play_bench.cpp)
target_link_libraries(bench_engine_play PRIVATE kestrel kestrel_test_recording)
target_compile_definitions(bench_engine_play PRIVATE KESTREL_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
