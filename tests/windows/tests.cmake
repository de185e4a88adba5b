# Test programs of the Windows build (included from cmake/windows.cmake). The platform-independent
# test files are listed one by one: those that need a pseudo-terminal peer, a child process or
# other Linux facilities stay in the Linux build.
set(_t ${CMAKE_SOURCE_DIR}/tests)

# Platform-independent tests of the shared folders.
velq3_windows_tests(test_portable
  SOURCES ${_t}/platform/mainloop_test.cpp ${_t}/platform/clock_test.cpp ${_t}/link/timelog_test.cpp
          ${_t}/device/rules_test.cpp
  LIBS velq3_device)

# The Windows platform bodies: registry, stopwatch, message loop, debug channel, and the serial
# port on COM1 (the simulator).
velq3_windows_tests(test_windows_platform USES_DISPLAY
  SOURCES ${_t}/windows/registry_test.cpp ${_t}/windows/stopwatch_test.cpp ${_t}/windows/mainloop_test.cpp
          ${_t}/windows/debugsink_test.cpp ${_t}/windows/userpaths_test.cpp
  LIBS velq3_device)
velq3_windows_tests(test_windows_serial USES_COM1
  SOURCES ${_t}/windows/serial_test.cpp
  LIBS velq3_link)


# The Alpaca face's tests that need no other program: the HTTP engine, the protocol and the device
# rules over it, and discovery, on Winsock.
velq3_windows_tests(test_alpaca_portable
  SOURCES ${_t}/alpaca/protocol_test.cpp ${_t}/alpaca/rules_test.cpp ${_t}/alpaca/discovery_test.cpp
          ${_t}/alpaca/http_engine_test.cpp
  LIBS velq3_alpaca)
target_include_directories(test_alpaca_portable PRIVATE ${_t}/alpaca)

# The Win32 layer of the dialogs: templates built as Win32 dialogs, their controls on screen and
# the control operations over real controls (needs the run's X display).
velq3_windows_tests(test_windows_ui USES_DISPLAY
  SOURCES ${_t}/windows/ui_win32_test.cpp ${VELQ3_ICON_RC}
  LIBS velq3_ui_win32)

# The operator windows one at a time, for their pictures (scripts/windows-png.sh); not a test.
add_executable(velq3-ui-show ${_t}/windows/ui_show_main.cpp ${VELQ3_ICON_RC})
target_link_libraries(velq3-ui-show PRIVATE velq3_ui_win32 velq3_device)

# The Win32 main window and settings dialog on the simulator behind COM1.
velq3_windows_tests(test_windows_ui_window USES_COM1 USES_DISPLAY
  SOURCES ${_t}/windows/ui_window_test.cpp
  LIBS velq3_ui_win32 velq3_device)

# The dialogs' behaviour cases of the Linux window tests, against the Win32 layer: the same
# cases, the other toolkit. Each case starts the Linux simulator of its own through Wine.
velq3_windows_tests(test_windows_ui_layers USES_DISPLAY
  SOURCES ${_t}/ui/dialog_rules_test.cpp ${_t}/ui/window_rules_test.cpp ${_t}/windows/ui_layer_test.cpp
  LIBS velq3_ui_win32 velq3_device ws2_32)
target_include_directories(test_windows_ui_layers PRIVATE ${_t}/ui)
target_compile_definitions(test_windows_ui_layers PRIVATE VELQ3_SIM_PATH="${VELQ3_LINUX_SIM}")
