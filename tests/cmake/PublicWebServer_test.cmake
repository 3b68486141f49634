# Which values of NEMVO_PUBLIC_WEB_SERVER the build accepts. Run as
#   cmake -P PublicWebServer_test.cmake
# Each value is checked in a cmake process of its own, since a refused value
# ends the process that checks it.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/PublicWebServer.cmake)

if(DEFINED VALUE)
  nemvo_check_public_web_server("${VALUE}")
  return()
endif()

set(accepted
  "http://localhost" "https://www.example.com" "http://127.0.0.1:18461" "https://example.com:443"
  "http://a" "http://my-host.example.lan" "http://[::1]:8080" "https://example.com." "http://host:65535")
set(refused
  "" "localhost" "www.example.com" "http://" "http:/host" "ftp://host" "HTTP//host" "http://host/"
  "http://host/path" "https://host:443/" "http://host:" "http://host:0" "http://host:65536"
  "http://host:123456" "http://host:80x" "http://-host" "http://host-" "http://ho st" "http://host?x=1"
  "http://host#top" "http://user@host" "http://host..example" " http://host"
  "javascript:alert(1)" "http://\"host\"" "http://<host>")

set(failures 0)
foreach(expect accepted refused)
  foreach(value IN LISTS ${expect})
    execute_process(COMMAND ${CMAKE_COMMAND} "-DVALUE=${value}" -P ${CMAKE_CURRENT_LIST_FILE}
      RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
    if((expect STREQUAL "accepted" AND NOT rc EQUAL 0) OR (expect STREQUAL "refused" AND rc EQUAL 0))
      message(SEND_ERROR "\"${value}\" should be ${expect}: ${err}")
      math(EXPR failures "${failures} + 1")
    endif()
  endforeach()
endforeach()
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} value(s) judged wrongly")
endif()
