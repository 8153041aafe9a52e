add_library(kestrel_test_vdec3enc STATIC
  ${CMAKE_CURRENT_LIST_DIR}/vdec3enc.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vdec3enc_codes.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vdec3enc_picture.cpp
)
target_include_directories(kestrel_test_vdec3enc PUBLIC ${CMAKE_SOURCE_DIR})
