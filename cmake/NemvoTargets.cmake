# Every source folder is one static library; every test folder one test program.
# Sources are globbed so that adding a file needs no edit here.
function(nemvo_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(srcs)
    add_library(nemvo_${name} STATIC ${srcs})
    target_include_directories(nemvo_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src ${CMAKE_BINARY_DIR}/generated)
    target_link_libraries(nemvo_${name} PUBLIC ${ARG_DEPS})
  else()
    add_library(nemvo_${name} INTERFACE)
    target_include_directories(nemvo_${name} INTERFACE ${PROJECT_SOURCE_DIR}/src ${CMAKE_BINARY_DIR}/generated)
    target_link_libraries(nemvo_${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# SERVER_TESTS: a --gtest_filter pattern naming the tests that need the
# Firebird server (tests/FirebirdFixture.cmake); the others run without it.
function(nemvo_test_folder name)
  cmake_parse_arguments(ARG "" "SERVER_TESTS" "DEPS;LABELS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  if(NOT srcs)
    return()
  endif()
  add_executable(test_${name} ${srcs})
  target_link_libraries(test_${name} PRIVATE ${ARG_DEPS} GTest::gtest_main)
  target_include_directories(test_${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  # The expected pages (tests/support/ExpectedPages.h) name the build's public web server.
  target_compile_definitions(test_${name} PRIVATE NEMVO_TEST_PUBLIC_WEB_SERVER="${NEMVO_PUBLIC_WEB_SERVER}")
  if(ARG_SERVER_TESTS)
    gtest_discover_tests(test_${name} DISCOVERY_TIMEOUT 60 TEST_FILTER "-${ARG_SERVER_TESTS}"
                         PROPERTIES LABELS "${ARG_LABELS}")
    nemvo_firebird_tests(test_${name} "${ARG_SERVER_TESTS}" LABELS ${ARG_LABELS})
  else()
    gtest_discover_tests(test_${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${ARG_LABELS}")
  endif()
endfunction()
