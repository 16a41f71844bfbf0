# The video command of the kestravu-stream tool; its files are read back with FFmpeg's
# libraries (found by tools/stream).
if(NOT WIN32)
  find_package(PNG REQUIRED)
  add_executable(video_tests ${CMAKE_CURRENT_LIST_DIR}/stream_tool/video_tests.cpp)
  target_include_directories(video_tests PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/support ${CMAKE_CURRENT_LIST_DIR}/stream_tool)
  target_link_libraries(video_tests PRIVATE kestravu_stream PNG::PNG PkgConfig::FFMPEG GTest::gtest_main)
  target_compile_definitions(video_tests PRIVATE
    KESTRAVU_STREAM_TOOL="$<TARGET_FILE:kestravu-stream>"
    KESTRAVU_FIXTURES="${CMAKE_CURRENT_LIST_DIR}/fixtures")
  add_dependencies(video_tests kestravu-stream)
  gtest_discover_tests(video_tests)
endif()
