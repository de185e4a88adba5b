# The Windows program end to end under Wine (tests/windows/com/com-e2e.sh): registration, the
# drivers out of process through velq3-ctl.exe, script clients, the wire check, the shutdown
# rule and the removal. The groups run in this order in the test run's prefix, with the
# simulator on COM1; the first registers, the last removes the registration and checks it.
set(_com_groups register drivers errors modes scripts wire shutdown operator modal unregister)
set(_com_previous "")
foreach(_g IN LISTS _com_groups)
  add_test(NAME wincom_${_g}
           COMMAND ${CMAKE_CURRENT_LIST_DIR}/com-e2e.sh ${_g} $<TARGET_FILE_DIR:velq3> ${VELQ3_LINUX_SIM})
  set(_fixtures wine_prefix com1_sim)
  if(_g STREQUAL "register")
    # After the in-process test below, which registers and removes the type library itself.
    set_tests_properties(wincom_${_g} PROPERTIES FIXTURES_SETUP wincom_registered DEPENDS test_windows_automation)
  elseif(_g STREQUAL "unregister")
    set_tests_properties(wincom_${_g} PROPERTIES FIXTURES_CLEANUP wincom_registered)
  else()
    list(APPEND _fixtures wincom_registered)
  endif()
  # The groups show windows (SetupDialog, the operator's window) and click and type into them.
  set_tests_properties(wincom_${_g} PROPERTIES FIXTURES_REQUIRED "${_fixtures}" RESOURCE_LOCK "com1;display"
                       ENVIRONMENT "${_wine_env}" LABELS "windows;wincom" TIMEOUT 120)
  if(_com_previous)
    set_tests_properties(wincom_${_g} PROPERTIES DEPENDS ${_com_previous})
  endif()
  set(_com_previous wincom_${_g})
endforeach()

# The automation layer in process: VELQLib embedded as in velq3.exe, registered by the test
# (before the registration of the end-to-end tests, see above).
velq3_windows_tests(test_windows_automation
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/automation_test.cpp ${CMAKE_BINARY_DIR}/velq3_typelib.rc
  LIBS velq3_server ole32 oleaut32 uuid)
