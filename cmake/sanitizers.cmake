# Checked builds (clang only). KESTRAVU_SANITIZE builds everything - the core, the device link,
# the stream tool and the unit tests - with AddressSanitizer and UndefinedBehaviorSanitizer, and
# any finding stops the program. KESTRAVU_FUZZ also instruments all code for coverage-guided
# fuzzing; the fuzz executables themselves (tests/fuzz.cmake) add the fuzzing engine.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(WARNING "Sanitizer and fuzz builds need clang; ${CMAKE_CXX_COMPILER_ID} builds plainly")
  return()
endif()

if(KESTRAVU_SANITIZE)
  set(kestravu_sanitize_flags -fsanitize=address,undefined -fno-sanitize-recover=all
      -fno-omit-frame-pointer)
  add_compile_options(${kestravu_sanitize_flags})
  add_link_options(${kestravu_sanitize_flags})
endif()

if(KESTRAVU_FUZZ)
  # Coverage feedback must reach the libraries too, not only the fuzz entry points.
  add_compile_options(-fsanitize=fuzzer-no-link)
  add_link_options(-fsanitize=fuzzer-no-link)
  set(KESTRAVU_FUZZ_READY ON)
endif()
