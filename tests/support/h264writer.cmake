# kestrel_test_h264writer: builds H.264 byte streams bit by bit for the decoder's tests.
add_library(kestrel_test_h264writer STATIC ${CMAKE_CURRENT_LIST_DIR}/h264writer.cpp)
target_include_directories(kestrel_test_h264writer PUBLIC ${CMAKE_SOURCE_DIR})
