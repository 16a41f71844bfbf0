# The scripted D2XX driver, shared by the link's tests and the stream reader's fuzz target. The
# rest of this folder is headers: the decoder fixture, the hand-moved clock, PNG pictures.
include_guard(GLOBAL)
if(NOT WIN32)
  add_library(kestravu_scripted_d2xx STATIC ${CMAKE_CURRENT_LIST_DIR}/scripted_d2xx.cpp)
  target_include_directories(kestravu_scripted_d2xx PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(kestravu_scripted_d2xx PUBLIC kestravu_link)
endif()
