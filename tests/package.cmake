# The Debian package: made with cpack, its contents checked, installed on this machine and the
# installed viewer run on the simulated device. It changes the machine (dpkg -i), so it runs
# alone; without root it checks the package only and reports itself skipped.
if(TARGET kestravu_package_files)
  add_test(NAME package COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/package/check_package.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(package PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE SKIP_RETURN_CODE 77 LABELS package)
endif()
