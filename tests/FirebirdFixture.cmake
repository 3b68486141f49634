# The CTest fixture "firebird": a Firebird server on 127.0.0.1 with this
# build's own databases (dialect 3 and dialect 1) and test user, brought up
# before the first test that needs it and taken down after the last.
#
# Each build directory gets its own database files and user, so that test
# runs of several build directories on one machine do not disturb each other;
# the server itself is shared and stays up while any run still holds it.
include_guard(GLOBAL)

set(NEMVO_TEST_FB_PORT 3050 CACHE STRING "Port of the Firebird server that the tests run on 127.0.0.1")

string(MD5 _nemvo_build_hash "${CMAKE_BINARY_DIR}")
string(SUBSTRING "${_nemvo_build_hash}" 0 8 _nemvo_build_tag)
set(_nemvo_db_dir "/var/lib/firebird/3.0/data/nemvo-${_nemvo_build_tag}")

# What a server test finds in its environment.
set(NEMVO_FIREBIRD_TEST_ENVIRONMENT
  "NEMVO_FIREBIRD_SCRIPT=${PROJECT_SOURCE_DIR}/scripts/firebird.sh"
  "NEMVO_FB_PORT=${NEMVO_TEST_FB_PORT}"
  "NEMVO_FB_LEASE=${CMAKE_BINARY_DIR}"
  "NEMVO_TEST_DB=127.0.0.1/${NEMVO_TEST_FB_PORT}:${_nemvo_db_dir}/dialect3.fdb"
  "NEMVO_TEST_DB_PATH=${_nemvo_db_dir}/dialect3.fdb"
  "NEMVO_TEST_DB1=127.0.0.1/${NEMVO_TEST_FB_PORT}:${_nemvo_db_dir}/dialect1.fdb"
  "NEMVO_TEST_DB1_PATH=${_nemvo_db_dir}/dialect1.fdb"
  "NEMVO_TEST_USER=nemvo_${_nemvo_build_tag}"
  "NEMVO_TEST_PASSWORD=Nv-${_nemvo_build_tag}")

add_test(NAME firebird_setup COMMAND ${PROJECT_SOURCE_DIR}/tests/firebird_fixture.sh setup)
add_test(NAME firebird_cleanup COMMAND ${PROJECT_SOURCE_DIR}/tests/firebird_fixture.sh cleanup)
set_tests_properties(firebird_setup PROPERTIES FIXTURES_SETUP firebird RESOURCE_LOCK firebird
                     ENVIRONMENT "${NEMVO_FIREBIRD_TEST_ENVIRONMENT}" LABELS firebird)
set_tests_properties(firebird_cleanup PROPERTIES FIXTURES_CLEANUP firebird RESOURCE_LOCK firebird
                     ENVIRONMENT "${NEMVO_FIREBIRD_TEST_ENVIRONMENT}" LABELS firebird)

# Registers the tests of a gtest program whose names match `filter` (a
# --gtest_filter pattern) as server tests: they need the fixture, run one at
# a time (they count the server's attachments) and see the environment above.
function(nemvo_firebird_tests target filter)
  cmake_parse_arguments(ARG "" "" "LABELS" ${ARGN})
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 TEST_FILTER "${filter}" TEST_LIST ${target}_SERVER_TESTS
    PROPERTIES FIXTURES_REQUIRED firebird RESOURCE_LOCK firebird)
  # List-valued properties do not survive the discovery step intact, so they
  # are set by a file that CTest reads after the discovered tests.
  set(props "${CMAKE_CURRENT_BINARY_DIR}/${target}_server_properties.cmake")
  file(WRITE "${props}"
    "if(${target}_SERVER_TESTS)\n"
    "  set_tests_properties(\${${target}_SERVER_TESTS} PROPERTIES\n"
    "    LABELS \"firebird;${ARG_LABELS}\"\n"
    "    ENVIRONMENT \"${NEMVO_FIREBIRD_TEST_ENVIRONMENT}\")\n"
    "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${props}")
endfunction()
