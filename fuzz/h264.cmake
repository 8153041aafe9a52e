# libFuzzer targets for the H.264 decoder, built only when asked for, with clang (libFuzzer comes
# with Debian's clang, package libclang-rt-14-dev; the normal build needs neither):
#
#   cmake -S . -B build-fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
#         -DKESTREL_FUZZ=ON -DKESTREL_SANITIZE=address,undefined -DKESTREL_BUILD_APP=OFF -DKESTREL_BUILD_BENCH=OFF
#   cmake --build build-fuzz --target fuzz_h264_decode fuzz_h264_slice
#   mkdir -p fuzz-corpus && build-fuzz/fuzz/fuzz_h264_decode -max_len=65536 fuzz-corpus ../shared/h264-conformance
#   build-fuzz/fuzz/fuzz_h264_slice -max_len=4096 fuzz-corpus-slice
option(KESTREL_FUZZ "build the libFuzzer targets (clang only)" OFF)
if(KESTREL_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "KESTREL_FUZZ needs clang (-DCMAKE_CXX_COMPILER=clang++)")
  endif()
  # coverage for the fuzzer in the decoder itself
  foreach(_lib kestrel_h264 kestrel_h264dsp)
    target_compile_options(${_lib} PRIVATE -fsanitize=fuzzer-no-link)
  endforeach()
  foreach(_target h264_decode h264_slice)
    add_executable(fuzz_${_target} ${CMAKE_CURRENT_LIST_DIR}/${_target}_fuzz.cpp)
    target_link_libraries(fuzz_${_target} PRIVATE kestrel_h264 kestrel_test_h264writer)
    target_compile_options(fuzz_${_target} PRIVATE -fsanitize=fuzzer)
    target_link_options(fuzz_${_target} PRIVATE -fsanitize=fuzzer)
  endforeach()
endif()
