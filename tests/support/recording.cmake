# kestrel_test_recording: writes ".H64" recordings for tests and benchmarks.
add_library(kestrel_test_recording STATIC
  ${CMAKE_CURRENT_LIST_DIR}/recording_writer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/recording_mpeg4.cpp
  ${CMAKE_CURRENT_LIST_DIR}/recording_h264.cpp)
target_link_libraries(kestrel_test_recording PUBLIC kestrel kestrel_audio)
