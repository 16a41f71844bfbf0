# The D2XX link and the stream reader against a scripted D2XX driver, the live link and the
# recording tee against a scripted device, and stream files played and reviewed frame by frame
# (native only; the Windows build is tested against the simulated device in sim.cmake).
if(NOT WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/support/support.cmake)
  add_executable(link_tests
    ${CMAKE_CURRENT_LIST_DIR}/link/d2xx_link_tests.cpp
    ${CMAKE_CURRENT_LIST_DIR}/link/stream_through_link_tests.cpp
    ${CMAKE_CURRENT_LIST_DIR}/link/stream_file_player_tests.cpp
    ${CMAKE_CURRENT_LIST_DIR}/link/live_link_tests.cpp)
  target_link_libraries(link_tests PRIVATE kestravu_scripted_d2xx kestravu_encoder GTest::gtest_main)
  gtest_discover_tests(link_tests)
endif()
