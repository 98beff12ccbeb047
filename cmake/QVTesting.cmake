# qv_add_test(<name> SOURCES ... [LIBS ...] [GUI] [TIMEOUT s])
# Registers one test program with ctest. GoogleTest programs (the default)
# have their cases listed one by one; GUI tests are QtTest programs that run
# on the offscreen platform, so no display is needed.
find_package(GTest REQUIRED)
include(GoogleTest)

function(qv_add_test name)
  cmake_parse_arguments(T "GUI" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE qv_options ${T_LIBS})
  if(T_GUI)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
      TIMEOUT ${T_TIMEOUT}
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  else()
    target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main GTest::gmock)
    gtest_discover_tests(${name}
      DISCOVERY_TIMEOUT 60
      PROPERTIES TIMEOUT ${T_TIMEOUT})
  endif()
endfunction()

# qv_add_folder_tests(<folder> [LIBS ...] [SOURCES extra...] [TIMEOUT s])
# The tests of one folder without listing them: every *_test.cpp becomes one
# GoogleTest program <folder>_tests; every *_qtest.cpp its own QtTest
# program (QTEST_MAIN), run on the offscreen platform.
function(qv_add_folder_tests folder)
  cmake_parse_arguments(T "" "TIMEOUT" "LIBS;SOURCES" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  file(GLOB gtests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  if(gtests)
    qv_add_test(${folder}_tests SOURCES ${gtests} ${T_SOURCES} LIBS ${T_LIBS} TIMEOUT ${T_TIMEOUT})
  endif()
  file(GLOB qtests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_qtest.cpp)
  foreach(src IN LISTS qtests)
    get_filename_component(name ${src} NAME_WE)
    qv_add_test(${folder}_${name} SOURCES ${src} LIBS ${T_LIBS} Qt6::Test GUI TIMEOUT ${T_TIMEOUT})
  endforeach()
endfunction()
