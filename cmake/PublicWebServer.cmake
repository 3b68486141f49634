# The root address of the public web server: the program writes its icons'
# and back link's addresses by appending "/nemvoweb_images/..." and the like
# to it, so it is a scheme and a host with an optional port, and nothing
# after them (a trailing "/" would give "//nemvoweb_images/..."). https is
# the sound choice for a site whose login form carries a password.
function(nemvo_check_public_web_server value)
  set(label "[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?")
  set(host "${label}(\\.${label})*\\.?|\\[[0-9A-Fa-f:.]+\\]")
  set(valid FALSE)
  if(value MATCHES "^https?://(${host})(:[0-9]+)?$")
    set(valid TRUE)
    if(value MATCHES ":([0-9]+)$")
      string(LENGTH "${CMAKE_MATCH_1}" digits)
      if(digits GREATER 5 OR CMAKE_MATCH_1 LESS 1 OR CMAKE_MATCH_1 GREATER 65535)
        set(valid FALSE)
      endif()
    endif()
  endif()
  if(NOT valid)
    message(FATAL_ERROR "NEMVO_PUBLIC_WEB_SERVER is \"${value}\": it must be http://HOST or https://HOST, "
      "optionally with :PORT, and no path or trailing slash (for example https://www.example.com)")
  endif()
endfunction()
