# The libftdi1 device link against a scripted stand-in for libftdi1 (Linux only).
if(NOT WIN32)
  add_executable(link_ftdi_tests
    ${CMAKE_CURRENT_LIST_DIR}/link_ftdi/scripted_ftdi.cpp
    ${CMAKE_CURRENT_LIST_DIR}/link_ftdi/ftdi_link_tests.cpp)
  target_include_directories(link_ftdi_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/link_ftdi ${CMAKE_CURRENT_LIST_DIR}/support)
  target_link_libraries(link_ftdi_tests PRIVATE kestravu_link GTest::gtest_main)
  gtest_discover_tests(link_ftdi_tests)

  # The Linux link's choice of device, through the simulated device's libftd2xx.so.
  add_executable(linux_link_tests ${CMAKE_CURRENT_LIST_DIR}/link_ftdi/linux_link_tests.cpp)
  target_link_libraries(linux_link_tests PRIVATE kestravu_link GTest::gtest_main)
  add_dependencies(linux_link_tests device_sim)
  gtest_discover_tests(linux_link_tests PROPERTIES ENVIRONMENT LD_LIBRARY_PATH=$<TARGET_FILE_DIR:device_sim>)
endif()
