# Fuzz targets (clang with libFuzzer, sanitize preset). Each target runs for a bounded time
# under CTest, on a fresh copy of its committed seed corpus in the build tree; longer runs:
# tests/fuzz/run.sh TARGET SECONDS.
if(KESTRAVU_FUZZ_READY)
  set(fuzz_dir ${CMAKE_CURRENT_LIST_DIR}/fuzz)
  set(KESTRAVU_FUZZ_SECONDS 20 CACHE STRING "Seconds each fuzz target runs under CTest")

  function(add_fuzz_target name)
    add_executable(fuzz_${name} ${ARGN})
    target_include_directories(fuzz_${name} PRIVATE ${fuzz_dir} ${CMAKE_CURRENT_LIST_DIR}/support)
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    add_test(NAME fuzz_${name} COMMAND ${fuzz_dir}/run.sh ${name} ${KESTRAVU_FUZZ_SECONDS} --fresh)
    set_tests_properties(fuzz_${name} PROPERTIES
      ENVIRONMENT "KESTRAVU_BUILD_DIR=${CMAKE_BINARY_DIR}"
      TIMEOUT 180 LABELS fuzz)
  endfunction()

  add_fuzz_target(decoder ${fuzz_dir}/decoder_fuzz.cpp ${fuzz_dir}/decoder_model.cpp)
  # The oracle's own loops would only blur the coverage signal and slow every run.
  set_source_files_properties(${fuzz_dir}/decoder_model.cpp PROPERTIES
    COMPILE_OPTIONS -fno-sanitize=fuzzer-no-link)
  target_link_libraries(fuzz_decoder PRIVATE kestravu_core)

  add_fuzz_target(encoder ${fuzz_dir}/encoder_fuzz.cpp)
  target_link_libraries(fuzz_encoder PRIVATE kestravu_encoder)

  include(${CMAKE_CURRENT_LIST_DIR}/support/support.cmake)
  add_fuzz_target(reader ${fuzz_dir}/reader_fuzz.cpp)
  target_link_libraries(fuzz_reader PRIVATE kestravu_scripted_d2xx)
endif()
