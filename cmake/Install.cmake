# Installation into CUPS's own folders, and the printer descriptions.
#
#   cmake --install build                  filter and PPDs where CUPS finds them
#   DESTDIR=/tmp/stage cmake --install build   the same under a staging root
#   cmake --build build --target ppds      regenerate ppd/*.ppd from the .drv
#
# The destinations are absolute (CUPS looks only in its own folders), so the
# install prefix does not move them; DESTDIR does. Both can be overridden:
# -DLABEL_CUPS_FILTER_DIR=... -DLABEL_PPD_DIR=...

# The name the filter is installed under. The build keeps "rastertolabel",
# but CUPS itself ships a filter of that name in the same folder, so the
# installed one must be called something no CUPS or cups-filters package
# uses; the PPDs' *cupsFilter2 lines name it.
set(LABEL_FILTER_INSTALL_NAME rastertothermallabel)

if(NOT DEFINED CACHE{LABEL_CUPS_FILTER_DIR})
  set(_serverbin /usr/lib/cups)
  find_program(CUPS_CONFIG_EXECUTABLE cups-config)
  if(CUPS_CONFIG_EXECUTABLE)
    execute_process(COMMAND ${CUPS_CONFIG_EXECUTABLE} --serverbin
                    OUTPUT_VARIABLE _serverbin OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
  set(LABEL_CUPS_FILTER_DIR ${_serverbin}/filter
      CACHE PATH "Where CUPS looks for filters (cups-config --serverbin)/filter")
endif()
# /usr/share/ppd is where CUPS's driver lister looks for PPDs on Debian
# (lpinfo -m names them lsb/usr/<dir>/<file>); the folder is ours alone.
set(LABEL_PPD_DIR /usr/share/ppd/thermallabel
    CACHE PATH "Where the PPDs are installed for lpinfo -m and lpadmin -m")

set(LABEL_PPDS ${CMAKE_SOURCE_DIR}/ppd/label203.ppd ${CMAKE_SOURCE_DIR}/ppd/label300.ppd)

install(PROGRAMS $<TARGET_FILE:rastertolabel>
        DESTINATION ${LABEL_CUPS_FILTER_DIR}
        RENAME ${LABEL_FILTER_INSTALL_NAME})
# The PPDs send PDF pages to it (pdftopdf -> pdftothermallabel) rather than through Ghostscript.
install(PROGRAMS $<TARGET_FILE:pdftolabel>
        DESTINATION ${LABEL_CUPS_FILTER_DIR}
        RENAME pdftothermallabel)
install(FILES ${LABEL_PPDS}
        DESTINATION ${LABEL_PPD_DIR}
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# Regenerates the committed PPDs from their one source; needs ppdc
# (cups-ppdc). Not part of "all": the build must not need the compiler.
add_custom_target(ppds
  COMMAND ${CMAKE_SOURCE_DIR}/ppd/generate.sh
  DEPENDS ${CMAKE_SOURCE_DIR}/ppd/labelprinters.drv
  COMMENT "Compiling ppd/labelprinters.drv into ppd/*.ppd"
  VERBATIM)
