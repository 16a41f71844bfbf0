# The USB capture link against a scripted D2XX driver (native only; the Windows build is tested
# against the simulated device in sim.cmake).
if(NOT WIN32)
  add_executable(device_tests
    ${CMAKE_CURRENT_LIST_DIR}/device/fake_d2xx.cpp
    ${CMAKE_CURRENT_LIST_DIR}/device/usb_link_tests.cpp
    ${CMAKE_CURRENT_LIST_DIR}/device/stream_through_link_tests.cpp)
  target_include_directories(device_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/device)
  target_link_libraries(device_tests PRIVATE kestravu_device kestravu_stream GTest::gtest_main)
  gtest_discover_tests(device_tests)
endif()
