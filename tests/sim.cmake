# The capture link against the simulated device. Each case runs sim_tests in a process of its
# own and in a scratch folder of its own. The program finds the stand-in driver library as it
# would find the real one: on Windows (under Wine) beside it, so copies of the program also run
# with no library and beside one that lacks an ordinal; elsewhere on LD_LIBRARY_PATH, pointed at
# the library's folder, an empty one, or one holding a library that lacks a function.
if(TARGET device_sim)
  set(sim_dir ${CMAKE_CURRENT_BINARY_DIR}/sim)
  add_executable(sim_tests ${CMAKE_CURRENT_LIST_DIR}/sim/sim_tests.cpp)
  target_include_directories(sim_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/support)
  target_link_libraries(sim_tests PRIVATE kestravu_link kestravu_sim kestravu_encoder)

  add_library(partial_d2xx SHARED ${CMAKE_CURRENT_LIST_DIR}/sim/partial_d2xx.cpp)
  target_link_libraries(partial_d2xx PRIVATE kestravu_link)  # for the driver declarations
  add_dependencies(sim_tests device_sim partial_d2xx)

  if(WIN32)
    set_target_properties(sim_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${sim_dir}/with_library)
    target_link_options(sim_tests PRIVATE -static -static-libgcc -static-libstdc++)
    target_sources(partial_d2xx PRIVATE ${CMAKE_CURRENT_LIST_DIR}/sim/partial_d2xx.def)
    set_target_properties(partial_d2xx PROPERTIES OUTPUT_NAME FTD2XX PREFIX ""
      RUNTIME_OUTPUT_DIRECTORY ${sim_dir}/partial_library ARCHIVE_OUTPUT_DIRECTORY ${sim_dir}/partial_library/lib)
    target_link_options(partial_d2xx PRIVATE -Wl,--kill-at -static-libgcc -static-libstdc++ -static)

    # Copies that follow every rebuild of what they copy.
    set(copies ${sim_dir}/with_library/FTD2XX.dll ${sim_dir}/no_library/sim_tests.exe
        ${sim_dir}/partial_library/sim_tests.exe)
    add_custom_command(OUTPUT ${copies}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${sim_dir}/no_library ${sim_dir}/partial_library
      COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:device_sim> ${sim_dir}/with_library/FTD2XX.dll
      COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:sim_tests> ${sim_dir}/no_library/sim_tests.exe
      COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:sim_tests> ${sim_dir}/partial_library/sim_tests.exe
      DEPENDS device_sim sim_tests partial_d2xx)
    add_custom_target(sim_test_copies ALL DEPENDS ${copies})
  else()
    set_target_properties(partial_d2xx PROPERTIES OUTPUT_NAME ftd2xx
      LIBRARY_OUTPUT_DIRECTORY ${sim_dir}/partial_library)
    file(MAKE_DIRECTORY ${sim_dir}/no_library)
  endif()

  # add_sim_test(NAME PLACE ARGS...): PLACE is with_library, no_library or partial_library.
  function(add_sim_test name place)
    set(work ${sim_dir}/work/${name})
    file(MAKE_DIRECTORY ${work})
    if(WIN32)
      add_test(NAME sim.${name} COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} ${sim_dir}/${place}/sim_tests.exe ${ARGN}
               WORKING_DIRECTORY ${work})
    else()
      set(library_dir ${sim_dir}/${place})
      if(place STREQUAL "with_library")
        set(library_dir $<TARGET_FILE_DIR:device_sim>)
      endif()
      add_test(NAME sim.${name} COMMAND sim_tests ${ARGN} WORKING_DIRECTORY ${work})
      set_tests_properties(sim.${name} PROPERTIES ENVIRONMENT LD_LIBRARY_PATH=${library_dir})
    endif()
  endfunction()
  add_sim_test(stream_file_decodes_as_from_memory with_library stream)
  add_sim_test(pattern_at_default_rate with_library pattern)
  add_sim_test(pattern_at_120_fps with_library pattern 120 60)
  add_sim_test(pattern_unpaced_past_key_frames with_library pattern 0 130)
  add_sim_test(stream_file_at_default_rate with_library pattern-file)
  add_sim_test(read_waits_for_time_out with_library timeout)
  add_sim_test(looped_file_comes_round with_library loop)
  add_sim_test(fails_after_set_bytes with_library fault)
  add_sim_test(only_open_handle_answers with_library handles)
  add_sim_test(absent_device_fails_open with_library absent)
  add_sim_test(reopen_continues_stream with_library reopen)
  add_sim_test(refuses_opens_beyond_limit with_library opens)
  add_sim_test(no_library_fails_open no_library no-library)
  add_sim_test(missing_function_fails_open partial_library missing-function)
  # The device linked in serves the same stream and driver calls.
  add_sim_test(linked_pattern_unpaced_past_key_frames no_library --linked pattern 0 130)
  add_sim_test(linked_stream_file_decodes_as_from_memory no_library --linked stream)

  if(WIN32)
    find_program(KESTRAVU_OBJDUMP i686-w64-mingw32-objdump REQUIRED)
    set(export_lister ${KESTRAVU_OBJDUMP})
  else()
    set(export_lister ${CMAKE_NM})
  endif()
  add_test(NAME sim.library_exports_the_driver_functions
    COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/sim/check_exports.sh ${export_lister} $<TARGET_FILE:device_sim>)
endif()

# Where the frames of a stream file are cut, for both simulated devices (native only).
if(TARGET kestravu_frame_source AND NOT WIN32)
  add_executable(frame_source_tests ${CMAKE_CURRENT_LIST_DIR}/sim/frame_source_tests.cpp)
  target_include_directories(frame_source_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/support)
  target_link_libraries(frame_source_tests PRIVATE kestravu_frame_source GTest::gtest_main)
  gtest_discover_tests(frame_source_tests TEST_PREFIX sim.)
endif()
