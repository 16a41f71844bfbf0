# The device through the real Linux USB stack: the emulated chip's bookkeeping and its USB/IP
# framing on a socket pair (no machine needed), then the viewer in a virtual machine
# (scripts/usb-vm.sh, tests/usb/usb_tests.sh), one boot for all its cases.
# Label "usb"; the machine's logs stay in usb-tests/ of the build folder.
if(TARGET kestravu_usb_chip)
  add_executable(usb_chip_tests ${CMAKE_CURRENT_LIST_DIR}/usb/usb_chip_tests.cpp)
  target_link_libraries(usb_chip_tests PRIVATE kestravu_usb_chip GTest::gtest_main)
  gtest_discover_tests(usb_chip_tests TEST_PREFIX usb.chip. PROPERTIES LABELS usb)
  add_executable(usbip_device_tests ${CMAKE_CURRENT_LIST_DIR}/usb/usbip_device_tests.cpp)
  target_link_libraries(usbip_device_tests PRIVATE kestravu_usb_chip GTest::gtest_main)
  gtest_discover_tests(usbip_device_tests TEST_PREFIX usb.usbip. PROPERTIES LABELS usb)
  # How far the viewer is behind the chip, with its GUI thread held up part-way.
  add_executable(usb_lag_probe ${CMAKE_CURRENT_LIST_DIR}/usb/lag_probe.cpp)
  target_link_libraries(usb_lag_probe PRIVATE kestravu_core)
endif()

# The link's device list, choice by serial number and device watch as a command, for the cases
# in the virtual machine.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  add_executable(usb_device_probe ${CMAKE_CURRENT_LIST_DIR}/usb/device_probe.cpp)
  target_link_libraries(usb_device_probe PRIVATE kestravu_link)
endif()

find_program(KESTRAVU_QEMU qemu-system-x86_64)
find_program(KESTRAVU_XVFB Xvfb)
find_program(KESTRAVU_XDOTOOL xdotool)
if(TARGET kestravu AND TARGET usb-chip AND TARGET usb_lag_probe AND TARGET usb_device_probe AND NOT KESTRAVU_SANITIZE
   AND KESTRAVU_QEMU AND KESTRAVU_XVFB
   AND KESTRAVU_XDOTOOL AND EXISTS /bin/busybox)
  add_test(NAME usb.viewer_in_virtual_machine
           COMMAND ${CMAKE_SOURCE_DIR}/scripts/usb-vm.sh bash ${CMAKE_CURRENT_LIST_DIR}/usb/usb_tests.sh
                   ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR} $<TARGET_FILE:kestravu> $<TARGET_FILE:usb_lag_probe>
                   $<TARGET_FILE:usb_device_probe>)
  # The machine's own time-out ends it first and says so. It bounds a hung machine, no more:
  # software emulation on a host busy with other builds runs several times slower than alone.
  set_tests_properties(usb.viewer_in_virtual_machine PROPERTIES LABELS usb TIMEOUT 600
                       ENVIRONMENT KESTRAVU_VM_TIMEOUT=570)
endif()
