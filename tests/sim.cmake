# The capture link and the stand-in driver library together, under Wine (windows only). The
# test program runs beside a copy of FTD2XX.dll in a folder of its own; copies of it also run
# with no library and beside one that lacks an ordinal. Each case works in a scratch folder.
if(WIN32 AND TARGET device_sim)
  set(sim_dir ${CMAKE_CURRENT_BINARY_DIR}/sim)
  add_executable(sim_tests ${CMAKE_CURRENT_LIST_DIR}/sim/sim_tests.cpp)
  set_target_properties(sim_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${sim_dir}/with_library)
  target_compile_definitions(sim_tests PRIVATE WIN32_LEAN_AND_MEAN)
  target_link_libraries(sim_tests PRIVATE kestravu_device kestravu_stream)
  target_link_options(sim_tests PRIVATE -static -static-libgcc -static-libstdc++)

  add_library(partial_d2xx SHARED ${CMAKE_CURRENT_LIST_DIR}/sim/partial_d2xx.cpp ${CMAKE_CURRENT_LIST_DIR}/sim/partial_d2xx.def)
  set_target_properties(partial_d2xx PROPERTIES OUTPUT_NAME FTD2XX PREFIX ""
    RUNTIME_OUTPUT_DIRECTORY ${sim_dir}/partial_library ARCHIVE_OUTPUT_DIRECTORY ${sim_dir}/partial_library/lib)
  target_include_directories(partial_d2xx PRIVATE ${CMAKE_SOURCE_DIR}/device)
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

  function(add_sim_test name program)
    set(work ${sim_dir}/work/${name})
    file(MAKE_DIRECTORY ${work})
    add_test(NAME sim.${name} COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} ${program} ${ARGN} WORKING_DIRECTORY ${work})
  endfunction()
  set(program ${sim_dir}/with_library/sim_tests.exe)
  add_sim_test(stream_file_decodes_as_from_memory ${program} stream)
  add_sim_test(pattern_at_default_rate ${program} pattern)
  add_sim_test(pattern_at_120_fps ${program} pattern 120 60)
  add_sim_test(pattern_unpaced_past_key_frames ${program} pattern 0 130)
  add_sim_test(stream_file_at_default_rate ${program} pattern-file)
  add_sim_test(read_waits_for_time_out ${program} timeout)
  add_sim_test(looped_file_comes_round ${program} loop)
  add_sim_test(fails_after_set_bytes ${program} fault)
  add_sim_test(only_open_handle_answers ${program} handles)
  add_sim_test(absent_device_fails_open ${program} absent)
  add_sim_test(reopen_continues_stream ${program} reopen)
  add_sim_test(refuses_opens_beyond_limit ${program} opens)
  add_sim_test(no_library_fails_open ${sim_dir}/no_library/sim_tests.exe no-library)
  add_sim_test(missing_function_fails_open ${sim_dir}/partial_library/sim_tests.exe missing-function)

  find_program(KESTRAVU_OBJDUMP i686-w64-mingw32-objdump REQUIRED)
  add_test(NAME sim.library_exports_six_ordinals
    COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/sim/check_exports.sh ${KESTRAVU_OBJDUMP} $<TARGET_FILE:device_sim>)
endif()
