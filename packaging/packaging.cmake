# Installation (cmake --install) and the Debian package (cpack, through scripts/package.sh):
# the programs, the desktop entry and icon, manual pages, the systemd user unit, an example
# udev rule and the package's copyright and changelog. Included from the top CMakeLists.txt
# after every program target exists.
set(_pkg ${CMAKE_CURRENT_LIST_DIR})
set(_pkg_out ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${_pkg_out})

set(VELQ3_PACKAGE_MAINTAINER "velq3 maintainers <maintainers@users.noreply.c-seed-3fdc0338.example>"
    CACHE STRING "Maintainer field of the Debian package and its changelog")
set(VELQ3_DEBIAN_REVISION 1)
set(VELQ3_INSTALL_FULL_BINDIR ${CMAKE_INSTALL_PREFIX}/bin)
set(VELQ3_INSTALL_FULL_DATADIR ${CMAKE_INSTALL_PREFIX}/share)
set(_doc share/doc/velq3)

# Everything that is installed; scripts/package.sh builds only this.
add_custom_target(velq3_installables)

# Programs.
foreach(_prog velq3 velq3-sim velq3-ctl velq3-probe indi_velq3)
  if(TARGET ${_prog})
    add_dependencies(velq3_installables ${_prog})
    if(NOT _prog STREQUAL indi_velq3)  # apps/indi_velq3.cmake installs it with its XML file
      install(TARGETS ${_prog} RUNTIME DESTINATION bin)
    endif()
  endif()
endforeach()

# Desktop entry and icon: only for the window build of velq3.
if(TARGET velq3 AND TARGET velq3_ui_qt)
  install(FILES ${_pkg}/velq3.desktop DESTINATION share/applications)
  install(FILES ${_pkg}/velq3.svg DESTINATION share/icons/hicolor/scalable/apps)
endif()

# Manual pages: the programs' own --help through help2man, indi_velq3's (libindi's main has no
# --help) written by hand. Compressed with gzip -9n (no name or time stamp inside).
string(TIMESTAMP VELQ3_MAN_DATE "%B %Y" UTC)
set(_man_pages)
find_program(HELP2MAN help2man)
find_program(GZIP gzip REQUIRED)
set(_man_home ${_pkg_out}/man-home)  # velq3 keeps its per-user files there while it prints --help
set(_man_names
  "velq3=filter wheel and focuser controller server with its control window"
  "velq3-sim=simulator of the velq3 accessory controller on a pseudo-terminal"
  "velq3-ctl=command-line automation client of the velq3 server"
  "velq3-probe=print a velq3 controller's memory summary and its status once a second")
if(HELP2MAN)
  foreach(_entry IN LISTS _man_names)
    string(FIND "${_entry}" "=" _eq)
    string(SUBSTRING "${_entry}" 0 ${_eq} _prog)
    math(EXPR _eq "${_eq} + 1")
    string(SUBSTRING "${_entry}" ${_eq} -1 _what)
    if(TARGET ${_prog})
      set(_page ${_pkg_out}/${_prog}.1)
      add_custom_command(OUTPUT ${_page}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${_man_home}
        COMMAND ${CMAKE_COMMAND} -E env VELQ3_HOME=${_man_home} QT_QPA_PLATFORM=offscreen
                ${HELP2MAN} --no-info --no-discard-stderr --version-string=${PROJECT_VERSION}
                --name=${_what} --section=1 --output=${_page} $<TARGET_FILE:${_prog}>
        COMMAND ${GZIP} -9nf ${_page}
        DEPENDS ${_prog}
        COMMENT "Manual page of ${_prog}"
        VERBATIM)
      list(APPEND _man_pages ${_page}.gz)
    endif()
  endforeach()
else()
  message(STATUS "help2man not found: no manual pages of velq3, velq3-sim, velq3-ctl, velq3-probe")
endif()
if(TARGET indi_velq3)
  configure_file(${_pkg}/indi_velq3.1.in ${_pkg_out}/indi_velq3.1 @ONLY)
  add_custom_command(OUTPUT ${_pkg_out}/indi_velq3.1.gz
    COMMAND ${GZIP} -9nc ${_pkg_out}/indi_velq3.1 > ${_pkg_out}/indi_velq3.1.gz
    DEPENDS ${_pkg_out}/indi_velq3.1
    VERBATIM)
  list(APPEND _man_pages ${_pkg_out}/indi_velq3.1.gz)
endif()

# The user unit, the example udev rule, the copyright file and the Debian changelog.
configure_file(${_pkg}/velq3.service.in ${_pkg_out}/velq3.service @ONLY)
string(TIMESTAMP VELQ3_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${_pkg}/changelog.Debian.in ${_pkg_out}/changelog.Debian @ONLY)
add_custom_command(OUTPUT ${_pkg_out}/changelog.Debian.gz
  COMMAND ${GZIP} -9nc ${_pkg_out}/changelog.Debian > ${_pkg_out}/changelog.Debian.gz
  DEPENDS ${_pkg_out}/changelog.Debian
  VERBATIM)

add_custom_target(velq3_packaging_files ALL DEPENDS ${_man_pages} ${_pkg_out}/changelog.Debian.gz)
add_dependencies(velq3_installables velq3_packaging_files)

if(_man_pages)
  install(FILES ${_man_pages} DESTINATION share/man/man1)
endif()
if(TARGET velq3)
  install(FILES ${_pkg_out}/velq3.service DESTINATION lib/systemd/user)
endif()
install(FILES ${_pkg}/60-velq3.rules.example ${_pkg}/copyright ${_pkg_out}/changelog.Debian.gz
        DESTINATION ${_doc})

# The Debian package: one binary package with every program (they share the controller's
# serial port and settings; a split would buy nothing but dependencies between the parts).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velq3)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The Debian revision of the project's version (its changelog is changelog.Debian.gz).
set(CPACK_DEBIAN_PACKAGE_RELEASE ${VELQ3_DEBIAN_REVISION})
set(CPACK_PACKAGE_CONTACT ${VELQ3_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VELQ3_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "filter wheel and focuser controller server")
set(CPACK_PACKAGE_DESCRIPTION
"velq3 drives an astronomical accessory controller on a serial port: a
filter wheel, a focuser, a second motor (second focuser, field rotator or
telescope cover), temperature sensors and heater and power outputs. It has
an operator window, a headless service (a systemd user unit), an automation
server with the command-line client velq3-ctl, an Alpaca interface, the
INDI driver indi_velq3 and a controller simulator, velq3-sim.")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# indi_velq3 is started by indiserver (KStars starts it through indiserver too).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "indi-bin")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/deb)
include(CPack)

# The install check: a temporary DESTDIR, the installed programs, desktop-file-validate and
# systemd-analyze verify (exit 77: a checker is missing; it says which).
add_test(NAME install COMMAND ${_pkg}/check-install.sh ${CMAKE_BINARY_DIR})
set_tests_properties(install PROPERTIES TIMEOUT 120 SKIP_RETURN_CODE 77 LABELS test_install)
