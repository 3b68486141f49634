# What `cmake --install` puts where. Debian's layout with the prefix /usr:
#
#   lib/cgi-bin/nemvoweb                     the program, where CGI programs live
#   bin/nemvo-trace                          the trace reader
#   share/nemvoweb/images/                   the message page's icons and favicon
#   share/nemvoweb/templates/main.html       a sample main-page template
#   share/nemvoweb/htdocs/index.html         a sample login page
#   share/man/man8/nemvoweb.8, man1/nemvo-trace.1
#   share/doc/nemvoweb/examples/             an example configuration, web server snippets,
#                                            production examples with TLS,
#                                            fail2ban/ (filter.d and jail.d files)
#
# With NEMVO_INSTALL_CONFIG the example configuration is installed as
# NEMVO_CONFIG_PATH too, and the fail2ban filter and jails in SYSCONFDIR's
# fail2ban/filter.d and fail2ban/jail.d (the package does that; by hand, an
# existing file would be overwritten, so it is off by default).
set(CMAKE_INSTALL_DOCDIR "share/doc/nemvoweb" CACHE PATH "Documentation (DATAROOTDIR/doc/nemvoweb)")
include(GNUInstallDirs)

# Not below LIBDIR: Debian's CGI directory is /usr/lib/cgi-bin on every
# architecture, where the web servers' default configurations look.
set(NEMVO_INSTALL_CGIDIR "lib/cgi-bin" CACHE PATH "Where nemvoweb goes (relative to the prefix)")
set(NEMVO_FASTCGI_SOCKET "/run/nemvoweb/nemvoweb.sock" CACHE STRING
    "The FastCGI pool's socket named in the web server snippets")
option(NEMVO_INSTALL_CONFIG "Install the example configuration as NEMVO_CONFIG_PATH" OFF)

set(_nemvo_datadir "${CMAKE_INSTALL_DATADIR}/nemvoweb")
if(IS_ABSOLUTE "${NEMVO_INSTALL_CGIDIR}")
  set(NEMVO_CGI_PROGRAM "${NEMVO_INSTALL_CGIDIR}/nemvoweb")
else()
  set(NEMVO_CGI_PROGRAM "${CMAKE_INSTALL_PREFIX}/${NEMVO_INSTALL_CGIDIR}/nemvoweb")
endif()
set(NEMVO_IMAGES_DIR "${CMAKE_INSTALL_FULL_DATADIR}/nemvoweb/images")
set(NEMVO_SHARE_DIR "${CMAKE_INSTALL_FULL_DATADIR}/nemvoweb")
set(NEMVO_DOC_DIR "${CMAKE_INSTALL_FULL_DOCDIR}")

install(TARGETS nemvoweb RUNTIME DESTINATION "${NEMVO_INSTALL_CGIDIR}")
install(TARGETS nemvo-trace RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")

install(FILES site/templates/main.html DESTINATION "${_nemvo_datadir}/templates")
install(FILES site/htdocs/index.html DESTINATION "${_nemvo_datadir}/htdocs")

# The images are drawn from their SVG sources when they are installed, so
# that builds that install nothing do not need the drawing tool.
install(CODE "
  set(_images \"\$ENV{DESTDIR}${NEMVO_IMAGES_DIR}\")
  message(STATUS \"Drawing: \${_images}\")
  execute_process(COMMAND \"${PROJECT_SOURCE_DIR}/scripts/site-images.sh\" \"\${_images}\"
                  COMMAND_ERROR_IS_FATAL ANY)
  foreach(_f warning.png info.png stop.png question.png favicon.ico)
    file(CHMOD \"\${_images}/\${_f}\" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${_images}/\${_f}\")
  endforeach()
")

# Manual pages and examples name the paths of this very build.
foreach(_page nemvoweb.8 nemvo-trace.1)
  configure_file(doc/${_page}.in ${CMAKE_BINARY_DIR}/doc/${_page} @ONLY)
  string(REGEX MATCH "[0-9]$" _section "${_page}")
  install(FILES ${CMAKE_BINARY_DIR}/doc/${_page} DESTINATION "${CMAKE_INSTALL_MANDIR}/man${_section}")
endforeach()
foreach(_example Nemvo.Config lighttpd.conf lighttpd-fastcgi.conf apache2.conf apache2-fastcgi.conf
                 nginx.conf nginx-fastcgi.conf nginx-limit.conf nginx-pool-status.conf lighttpd-tls.conf apache2-tls.conf
                 nginx-tls.conf)
  configure_file(doc/examples/${_example}.in ${CMAKE_BINARY_DIR}/doc/examples/${_example} @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/doc/examples/${_example} DESTINATION "${CMAKE_INSTALL_DOCDIR}/examples")
endforeach()

# The fail2ban filter and jails (all disabled) name no path of the build.
foreach(_dir filter.d jail.d)
  install(FILES doc/fail2ban/${_dir}/nemvoweb.conf DESTINATION "${CMAKE_INSTALL_DOCDIR}/examples/fail2ban/${_dir}")
endforeach()

if(NEMVO_INSTALL_CONFIG)
  foreach(_dir filter.d jail.d)
    install(FILES doc/fail2ban/${_dir}/nemvoweb.conf DESTINATION "${CMAKE_INSTALL_FULL_SYSCONFDIR}/fail2ban/${_dir}")
  endforeach()
  get_filename_component(_config_dir "${NEMVO_CONFIG_PATH}" DIRECTORY)
  get_filename_component(_config_name "${NEMVO_CONFIG_PATH}" NAME)
  install(FILES ${CMAKE_BINARY_DIR}/doc/examples/Nemvo.Config DESTINATION "${_config_dir}" RENAME "${_config_name}")
endif()
