# End-to-end cases: the real program under Wine on an X display, driven with real input and read
# back from the screen. Each tests/e2e/case_NAME.sh is one test; they share one Wine prefix and
# one display (scripts/with-display.sh) and run one at a time.
if(WIN32)
  # Finds the program's windows from outside and prints what X tools cannot see.
  add_executable(kestravu-e2e-probe e2e/probe.cpp)
  target_include_directories(kestravu-e2e-probe PRIVATE
    $<TARGET_PROPERTY:kestravu_resources,INTERFACE_INCLUDE_DIRECTORIES>)
  target_link_options(kestravu-e2e-probe PRIVATE -static -static-libgcc -static-libstdc++)
  set_target_properties(kestravu-e2e-probe PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})

  file(GLOB e2e_cases CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/e2e/case_*.sh)
  foreach(case_script ${e2e_cases})
    get_filename_component(case_name ${case_script} NAME_WE)
    string(REGEX REPLACE "^case_" "" case_name ${case_name})
    add_test(NAME e2e.${case_name} COMMAND bash ${case_script} ${CMAKE_BINARY_DIR})
    set_tests_properties(e2e.${case_name} PROPERTIES TIMEOUT 150 RUN_SERIAL TRUE LABELS e2e)
  endforeach()
endif()
