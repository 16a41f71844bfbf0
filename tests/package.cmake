# The Debian package: built with dpkg-buildpackage from a copy of the source tree, checked with
# lintian and its own checks, then installed into a clean Debian 12 system (kept under build/
# between runs) and run there. The build uses both cores, so it runs alone; without root it
# checks the package only and reports itself skipped.
if(TARGET kestravu_package_files AND TARGET device_sim)
  add_test(NAME package COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/package/check_package.sh ${CMAKE_BINARY_DIR}
                                     ${CMAKE_SOURCE_DIR}/build/debian-12)
  set_tests_properties(package PROPERTIES TIMEOUT 600 RUN_SERIAL TRUE SKIP_RETURN_CODE 77 LABELS package)
endif()
