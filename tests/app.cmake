# The program (Windows only): what the executable imports, and its shell under Wine against a
# stand-in device link.
if(WIN32 AND TARGET KESTRAVU)
  add_test(NAME app_imports_only_system_libraries
           COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:KESTRAVU> -DOBJDUMP=${CMAKE_OBJDUMP}
                   -P ${CMAKE_CURRENT_LIST_DIR}/app/check_imports.cmake)

  add_executable(app_tests
    ${CMAKE_CURRENT_LIST_DIR}/app/app_tests.cpp
    ${CMAKE_CURRENT_LIST_DIR}/app/window_tests.cpp
    ${CMAKE_CURRENT_LIST_DIR}/app/dialog_tests.cpp)
  target_include_directories(app_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/support)
  target_link_libraries(app_tests PRIVATE kestravu_app kestravu_resources)
  target_link_options(app_tests PRIVATE -static -static-libgcc -static-libstdc++)
  foreach(group settings_file dialog_text window start_up dialog)
    add_test(NAME app_${group} COMMAND app_tests ${group})
    set_tests_properties(app_${group} PROPERTIES TIMEOUT 120)
  endforeach()
endif()
