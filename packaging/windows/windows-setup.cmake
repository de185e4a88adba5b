# The setup program build-windows/velq3-setup-<version>.exe (NSIS, velq3.nsi beside this file)
# from velq3.exe and velq3-ctl.exe; built with the rest when makensis (Debian package nsis) is
# installed. Included from apps/windows.cmake.
find_program(VELQ3_MAKENSIS makensis)
set(VELQ3_SETUP ${CMAKE_BINARY_DIR}/velq3-setup-${PROJECT_VERSION}.exe)
if(VELQ3_MAKENSIS)
  add_custom_command(OUTPUT ${VELQ3_SETUP}
    COMMAND ${VELQ3_MAKENSIS} -V2 -DVERSION=${PROJECT_VERSION} -DBINDIR=$<TARGET_FILE_DIR:velq3>
            -DOUTFILE=${VELQ3_SETUP} ${CMAKE_CURRENT_LIST_DIR}/velq3.nsi
    DEPENDS velq3 velq3-ctl ${CMAKE_CURRENT_LIST_DIR}/velq3.nsi
    COMMENT "Setup program velq3-setup-${PROJECT_VERSION}.exe"
    VERBATIM)
  add_custom_target(velq3-setup ALL DEPENDS ${VELQ3_SETUP})
else()
  message(WARNING "makensis not found (Debian package nsis, scripts/setup.sh installs it): "
                  "no setup program; its test under Wine will fail")
endif()
