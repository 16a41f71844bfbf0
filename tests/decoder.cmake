# The core: the decoder, its pixel stage, the statistics and the settings rules (native only).
if(NOT WIN32)
  add_executable(decoder_tests
    ${CMAKE_CURRENT_LIST_DIR}/decoder/decode_frame_tests.cpp
    ${CMAKE_CURRENT_LIST_DIR}/decoder/pixel_stage_tests.cpp
    ${CMAKE_CURRENT_LIST_DIR}/decoder/frame_stats_tests.cpp
    ${CMAKE_CURRENT_LIST_DIR}/decoder/settings_tests.cpp)
  target_include_directories(decoder_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/support)
  target_link_libraries(decoder_tests PRIVATE kestravu_core GTest::gtest_main)
  gtest_discover_tests(decoder_tests)
endif()
