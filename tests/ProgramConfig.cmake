# The configuration file of the program under test. nemvoweb reads it from a
# path fixed at build time (NEMVO_CONFIG_PATH); the tests may write it only
# when that path lies inside the build directory, as in the test builds that
# scripts/test.sh configures. Tests that write it hold the CTest resource
# lock "nemvo_config" (so do the site tests, which rewrite the same file).
include_guard(GLOBAL)

# Gives the gtest program `target` the path (tests/support/ProgramConfig.h)
# and the lock: for all its tests, or with SERVER_ONLY for its server tests
# alone (those registered through nemvo_test_folder's SERVER_TESTS).
function(nemvo_program_config_tests target)
  cmake_parse_arguments(ARG "SERVER_ONLY" "" "" ${ARGN})
  string(FIND "${NEMVO_CONFIG_PATH}" "${CMAKE_BINARY_DIR}/" at)
  if(at EQUAL 0)
    set(writable true)
  else()
    set(writable false)
    get_property(warned GLOBAL PROPERTY NEMVO_CONFIG_WARNED)
    if(NOT warned)
      set_property(GLOBAL PROPERTY NEMVO_CONFIG_WARNED TRUE)
      message(WARNING "nemvoweb reads ${NEMVO_CONFIG_PATH}, outside the build directory: the tests that need "
                      "a configuration file are skipped (and fail in the test command). Configure with -DNEMVO_CONFIG_PATH=${CMAKE_BINARY_DIR}/"
                      "test-config/Nemvo.Config to run them (scripts/test.sh does).")
    endif()
  endif()
  target_compile_definitions(${target} PRIVATE
    NEMVO_TEST_CONFIG_PATH="${NEMVO_CONFIG_PATH}" NEMVO_TEST_CONFIG_WRITABLE=${writable})
  # List-valued properties are set after discovery (see FirebirdFixture.cmake).
  set(props "${CMAKE_CURRENT_BINARY_DIR}/${target}_config_lock.cmake")
  set(text "")
  if(NOT ARG_SERVER_ONLY)
    string(APPEND text "if(${target}_TESTS)\n"
                       "  set_tests_properties(\${${target}_TESTS} PROPERTIES RESOURCE_LOCK nemvo_config)\n"
                       "endif()\n")
  endif()
  string(APPEND text "if(${target}_SERVER_TESTS)\n"
                     "  set_tests_properties(\${${target}_SERVER_TESTS} PROPERTIES RESOURCE_LOCK \"firebird;nemvo_config\")\n"
                     "endif()\n")
  file(WRITE "${props}" "${text}")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${props}")
endfunction()
