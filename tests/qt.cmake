# The native viewer (kestravu, Qt): its window, dialog, start-up and settings file in-process on
# the offscreen platform over the simulated device's libftd2xx.so, one run on a virtual X
# display driven with real key presses, and one as a client of a headless Wayland compositor.
if(KESTRAVU_QT AND TARGET kestravu AND TARGET device_sim)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  add_library(qt_harness STATIC ${CMAKE_CURRENT_LIST_DIR}/qt/harness.cpp ${CMAKE_CURRENT_LIST_DIR}/qt/harness.h)
  target_include_directories(qt_harness PUBLIC ${CMAKE_CURRENT_LIST_DIR}/qt)
  target_link_libraries(qt_harness PUBLIC kestravu_qt kestravu_link Qt6::Test)
  target_compile_definitions(qt_harness PUBLIC KESTRAVU_STREAM_TOOL="$<TARGET_FILE:kestravu-stream>"
                             KESTRAVU_DELIVERED_BYTES="${CMAKE_CURRENT_LIST_DIR}/support/delivered_bytes.awk")
  add_dependencies(qt_harness kestravu-stream device_sim)

  add_executable(qt_tests ${CMAKE_CURRENT_LIST_DIR}/qt/viewer_tests.cpp)
  set_target_properties(qt_tests PROPERTIES AUTOMOC ON)
  target_link_libraries(qt_tests PRIVATE qt_harness)
  target_compile_definitions(qt_tests PRIVATE KESTRAVU_DOCS="${CMAKE_SOURCE_DIR}/docs")
  add_executable(qt_playback_tests ${CMAKE_CURRENT_LIST_DIR}/qt/playback_tests.cpp)
  set_target_properties(qt_playback_tests PROPERTIES AUTOMOC ON)
  target_link_libraries(qt_playback_tests PRIVATE qt_harness)

  # A screen large enough for the window at 4x and for full screen at several whole scales.
  set(qt_environment QT_QPA_PLATFORM=offscreen:configfile=${CMAKE_CURRENT_LIST_DIR}/qt/screen.json
                     LD_LIBRARY_PATH=$<TARGET_FILE_DIR:device_sim>)
  function(add_qt_test name function)
    add_test(NAME qt.${name} COMMAND qt_tests ${function})
    set_tests_properties(qt.${name} PROPERTIES ENVIRONMENT "${qt_environment};${ARGN}" TIMEOUT 60)
  endfunction()
  add_qt_test(picture picture)
  add_qt_test(picture_display_scale_2 picture QT_SCALE_FACTOR=2)
  add_qt_test(picture_display_scale_1_5 picture QT_SCALE_FACTOR=1.5)
  add_qt_test(title_nine_frames title:nine)
  add_qt_test(title_ten_frames title:ten)
  add_qt_test(dialog dialog)
  add_qt_test(device_absent deviceAbsent)
  add_qt_test(device_stops deviceStops)
  add_qt_test(device_unplugged deviceUnplugged)
  add_qt_test(wait_for_device waitForDevice)
  add_qt_test(quit_keeps_other_settings quitKeepsOtherSettings)
  add_qt_test(settings_file settingsFile)
  foreach(ending stop quit close terminated unplugged silent launch)
    add_qt_test(record_${ending} record:${ending})
  endforeach()
  add_qt_test(recording_failures recordingFailures)
  add_qt_test(open_stream openStream)
  add_qt_test(stream_file_without_device streamFileWithoutDevice)
  add_qt_test(long_recording longRecording)
  add_qt_test(full_disk fullDisk)
  add_qt_test(odd_settings_files oddSettingsFiles)
  add_qt_test(recording_file_safety recordingFileSafety)
  add_test(NAME qt.playback COMMAND qt_playback_tests)
  set_tests_properties(qt.playback PROPERTIES ENVIRONMENT "${qt_environment}" TIMEOUT 60)

  add_test(NAME qt.version COMMAND kestravu --version)
  set_tests_properties(qt.version PROPERTIES PASS_REGULAR_EXPRESSION "^kestravu ${PROJECT_VERSION}\n$")
  add_test(NAME qt.help COMMAND kestravu --help)
  set_tests_properties(qt.help PROPERTIES PASS_REGULAR_EXPRESSION "Usage: .*kestravu.*--version")

  find_program(KESTRAVU_XVFB Xvfb)
  find_program(KESTRAVU_XDOTOOL xdotool)
  if(KESTRAVU_XVFB AND KESTRAVU_XDOTOOL)
    add_test(NAME qt.smoke_on_x_display
             COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/qt/smoke_x_display.sh $<TARGET_FILE:kestravu>
                     $<TARGET_FILE_DIR:device_sim> $<TARGET_FILE:kestravu-stream>)
    set_tests_properties(qt.smoke_on_x_display PROPERTIES TIMEOUT 60)
  endif()

  # Weston's output, 1280 x 800 logical pixels at display scale 1 and 2, is large enough for the
  # window at Scale 2x wherever Weston places it, and so for Wide at 1x, which is as large.
  find_program(KESTRAVU_WESTON weston)
  find_program(KESTRAVU_WESTON_SCREENSHOOTER weston-screenshooter)
  if(KESTRAVU_WESTON AND KESTRAVU_WESTON_SCREENSHOOTER)
    add_executable(wayland_tests ${CMAKE_CURRENT_LIST_DIR}/qt/wayland_tests.cpp)
    set_target_properties(wayland_tests PROPERTIES AUTOMOC ON)
    target_link_libraries(wayland_tests PRIVATE qt_harness)
    foreach(scale 1 2)
      add_test(NAME qt.wayland_display_scale_${scale}
               COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/qt/weston.sh 1280 800 ${scale} $<TARGET_FILE:wayland_tests>)
      set_tests_properties(qt.wayland_display_scale_${scale} PROPERTIES TIMEOUT 120 ENVIRONMENT
                           "LD_LIBRARY_PATH=$<TARGET_FILE_DIR:device_sim>;KESTRAVU_DISPLAY_SCALE=${scale}")
    endforeach()
  endif()
endif()
