# Man pages, the dissector where Wireshark looks for it, and the Debian package (scripts/package
# drives it: `cpack -G DEB` in a build configured with FERROLINK_DEB=ON and the prefix /usr).

# The tools' man pages and the Debian package are for Linux builds that have the tools.
if(WIN32 OR NOT FERROLINK_BUILD_TOOLS)
  return()
endif()

# Man pages: pandoc turns the markdown in docs/ into roff, tables into lists that fit a terminal
# (packaging/man-tables.lua). A page whose source is not there is left out, and so are all of
# them without pandoc: neither stops a build.
find_program(FERROLINK_PANDOC pandoc)
find_program(FERROLINK_GZIP gzip)
# page | its one-line description for the NAME section (when the source has none) | its sources,
# the first that exists (the emulator's guide, else the protocol document that describes it).
set(FERROLINK_MAN_PAGES
  "ferrolink|drive, watch and capture the inkjet printer's mainboard over Ethernet|docs/ferrolink.1.md"
  "ferrolink-board-sim|emulate the inkjet printer's mainboard on a network interface|docs/ferrolink-board-sim.md,docs/board-protocol.md")
set(FERROLINK_MAN_OUTPUTS)
# The day of the build, or of SOURCE_DATE_EPOCH when set (scripts/package sets the last commit's).
string(TIMESTAMP FERROLINK_MAN_DATE "%Y-%m-%d" UTC)
foreach(entry ${FERROLINK_MAN_PAGES})
  string(REPLACE "|" ";" entry "${entry}")
  list(GET entry 0 page)
  list(GET entry 1 whatis)
  list(GET entry 2 sources)
  string(REPLACE "," ";" sources "${sources}")
  set(source "")
  foreach(candidate ${sources})
    if(NOT source AND EXISTS ${PROJECT_SOURCE_DIR}/${candidate})
      set(source ${PROJECT_SOURCE_DIR}/${candidate})
    endif()
  endforeach()
  if(NOT FERROLINK_PANDOC OR NOT FERROLINK_GZIP)
    message(STATUS "Man page ${page}.1 not built: pandoc or gzip missing (scripts/deps installs them)")
    continue()
  elseif(NOT source)
    message(STATUS "Man page ${page}.1 not built: none of ${sources} exists")
    continue()
  endif()
  set(out ${PROJECT_BINARY_DIR}/man/${page}.1)
  # man and lintian read the whatis line from NAME; a guide written for reading gets one here.
  file(STRINGS ${source} has_name REGEX "^# NAME$")
  set(inputs ${source})
  if(NOT has_name)
    file(WRITE ${PROJECT_BINARY_DIR}/man/${page}.name.md "# NAME\n\n${page} - ${whatis}\n")
    set(inputs ${PROJECT_BINARY_DIR}/man/${page}.name.md ${source})
  endif()
  string(TOUPPER ${page} title)
  add_custom_command(OUTPUT ${out}.gz
    COMMAND ${FERROLINK_PANDOC} --standalone --to man -M title=${title} -M section=1
            --lua-filter ${PROJECT_SOURCE_DIR}/packaging/man-tables.lua
            -M "header=Ferrolink manual" -M "footer=Ferrolink ${PROJECT_VERSION}" -M date=${FERROLINK_MAN_DATE}
            -o ${out} ${inputs}
    # -n: no name or time stamp inside, so the page is the same byte for byte from build to build.
    COMMAND ${FERROLINK_GZIP} -9nf ${out}
    DEPENDS ${source} ${PROJECT_SOURCE_DIR}/packaging/man-tables.lua
    COMMENT "Man page ${page}.1"
    VERBATIM)
  list(APPEND FERROLINK_MAN_OUTPUTS ${out}.gz)
  install(FILES ${out}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
if(FERROLINK_MAN_OUTPUTS)
  add_custom_target(ferrolink_man ALL DEPENDS ${FERROLINK_MAN_OUTPUTS})
endif()

option(FERROLINK_DEB "Install as the Debian package lays it out (scripts/package)" OFF)
if(NOT FERROLINK_DEB)
  return()
endif()

# Wireshark and tshark load Lua plugins from this folder by themselves (Debian's wireshark-common
# layout). A link to the copy in share/ferrolink, so one file is the dissector wherever it is used.
set(FERROLINK_WIRESHARK_PLUGIN_DIR ${CMAKE_INSTALL_LIBDIR}/wireshark/plugins
    CACHE STRING "Wireshark's global Lua plugin folder, under the prefix")
file(RELATIVE_PATH plugin_link /${FERROLINK_WIRESHARK_PLUGIN_DIR}
     /${CMAKE_INSTALL_DATADIR}/ferrolink/ferrolink.lua)
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/wireshark)
file(CREATE_LINK ${plugin_link} ${PROJECT_BINARY_DIR}/wireshark/ferrolink.lua SYMBOLIC)
install(FILES ${PROJECT_BINARY_DIR}/wireshark/ferrolink.lua DESTINATION ${FERROLINK_WIRESHARK_PLUGIN_DIR})

# The claim folder, made at boot by systemd-tmpfiles (and by postinst at install).
install(FILES ${PROJECT_SOURCE_DIR}/packaging/tmpfiles.d/ferrolink.conf
        DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/tmpfiles.d)

# What Debian wants beside every package: the copyright, a compressed changelog, and the reasons
# for the lintian tags that stay.
set(FERROLINK_PACKAGE_MAINTAINER "Ferrolink developers <ferrolink@example.org>"
    CACHE STRING "The Debian package's maintainer")
string(TIMESTAMP FERROLINK_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in
               ${PROJECT_BINARY_DIR}/debian/changelog.Debian @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz
  COMMAND ${FERROLINK_GZIP} -9nkf ${PROJECT_BINARY_DIR}/debian/changelog.Debian
  DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.Debian VERBATIM)
add_custom_target(ferrolink_deb_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz)
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/ferrolink)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright
              ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz DESTINATION ${doc_dir})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ferrolink)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ferrolink)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${FERROLINK_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "host library and tools for an inkjet printer's mainboard")
# The long description: CPack indents each line and turns an empty one into " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Ferrolink drives the mainboard of an industrial inkjet printer over a
dedicated Ethernet link, in raw frames of the board's own protocol.

This package holds the shared library with its headers, CMake and
pkg-config files; the ferrolink tool (find and claim the board, send
print jobs, watch its reports, capture its frames); the board emulator
ferrolink-board-sim; and a Wireshark dissector of the board frame, which
Wireshark loads by itself. Members of the group ferrolink may capture
and send with the tool.")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
# postinst: the group and the capability (addgroup, setcap); systemd-tmpfiles makes the folder.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, libcap2-bin")
# What a host program built on the headers needs.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libpcap-dev, libboost-log-dev")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "wireshark | tshark")
# triggers: ldconfig runs after the library is unpacked.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
                                       ${PROJECT_SOURCE_DIR}/packaging/debian/postrm
                                       ${PROJECT_SOURCE_DIR}/packaging/debian/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
include(CPack)
