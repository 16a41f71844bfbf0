# The stream encoder, the test pattern, the stream fixtures and the kestravu-stream tool, whose
# videos are read back with FFmpeg's libraries (found by tools/stream/).
if(NOT WIN32)
  find_package(PNG REQUIRED)
  add_executable(stream_tool_tests
    ${CMAKE_CURRENT_LIST_DIR}/stream_tool/encoder_tests.cpp
    ${CMAKE_CURRENT_LIST_DIR}/stream_tool/test_pattern_tests.cpp
    ${CMAKE_CURRENT_LIST_DIR}/stream_tool/fixture_tests.cpp
    ${CMAKE_CURRENT_LIST_DIR}/stream_tool/cli_tests.cpp
    ${CMAKE_CURRENT_LIST_DIR}/stream_tool/video_tests.cpp)
  target_include_directories(stream_tool_tests PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/support ${CMAKE_CURRENT_LIST_DIR}/stream_tool)
  target_link_libraries(stream_tool_tests PRIVATE kestravu_encoder PNG::PNG PkgConfig::FFMPEG GTest::gtest_main)
  target_compile_definitions(stream_tool_tests PRIVATE
    KESTRAVU_STREAM_TOOL="$<TARGET_FILE:kestravu-stream>"
    KESTRAVU_FIXTURES="${CMAKE_CURRENT_LIST_DIR}/fixtures")
  add_dependencies(stream_tool_tests kestravu-stream)
  gtest_discover_tests(stream_tool_tests)
endif()
