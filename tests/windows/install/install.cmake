# The setup program under Wine (setup-e2e.sh): a silent install, a script client of the installed
# server with the simulator on COM1, silent uninstalls. The end-to-end tests of com.cmake register
# the same classes from the build tree: this test comes after they have removed theirs.
add_test(NAME wininst_setup
         COMMAND ${CMAKE_CURRENT_LIST_DIR}/setup-e2e.sh ${VELQ3_SETUP} $<TARGET_FILE_DIR:velq3> ${PROJECT_VERSION})
# It begins by ending the prefix's Wine session (see setup-e2e.sh), which would end any other
# test's program with it: it runs alone.
set_tests_properties(wininst_setup PROPERTIES FIXTURES_REQUIRED "wine_prefix;com1_sim" RESOURCE_LOCK com1
                     RUN_SERIAL TRUE DEPENDS wincom_unregister ENVIRONMENT "${_wine_env}" LABELS "windows;wininst"
                     TIMEOUT 150)
