# The Windows programs (included from cmake/windows.cmake): velq3.exe, the automation server
# with the type library VELQLib as its type-library resource 1 and the windows' icon as its
# icon resource 1, and the client velq3-ctl.exe.
if(NOT TARGET velq3_server)
  return()
endif()
if(NOT VELQ3_WIDL)
  message(FATAL_ERROR "widl (Debian package wine64-tools) is needed for the type library")
endif()
enable_language(RC)

set(_idl ${CMAKE_SOURCE_DIR}/automation/win32/VELQLib.idl)
set(_tlb ${CMAKE_BINARY_DIR}/VELQLib.tlb)
add_custom_command(OUTPUT ${_tlb}
  COMMAND ${VELQ3_WIDL} -m64 -I/usr/include/wine/wine/windows -I/usr/include/wine/windows
          -L/usr/lib/x86_64-linux-gnu/wine/x86_64-windows -t -o ${_tlb} ${_idl}
  DEPENDS ${_idl}
  COMMENT "Type library VELQLib")
set(_rc ${CMAKE_BINARY_DIR}/velq3_typelib.rc)
# Resource 1 of type 24 is the program's manifest (common controls 6, per-monitor DPI).
set(_manifest ${CMAKE_CURRENT_LIST_DIR}/velq3.manifest)
file(WRITE ${_rc} "1 TYPELIB \"${_tlb}\"\n1 24 \"${_manifest}\"\n")
set_source_files_properties(${_rc} PROPERTIES OBJECT_DEPENDS "${_tlb};${_manifest}")

add_executable(velq3 WIN32 ${CMAKE_CURRENT_LIST_DIR}/velq3_win_main.cpp ${_rc} ${VELQ3_ICON_RC})
target_link_libraries(velq3 PRIVATE velq3_server velq3_alpaca velq3_ui_win32 ole32 oleaut32 uuid)
target_link_options(velq3 PRIVATE -municode)
target_compile_definitions(velq3 PRIVATE VELQ3_VERSION="${PROJECT_VERSION}")

add_executable(velq3-ctl ${CMAKE_CURRENT_LIST_DIR}/velq3_ctl_win_main.cpp)
target_link_libraries(velq3-ctl PRIVATE velq3_automation ole32 oleaut32 uuid)
target_link_options(velq3-ctl PRIVATE -municode)

# Their end-to-end tests under Wine, once the test harness of cmake/windows.cmake is defined.
cmake_language(DEFER CALL include ${CMAKE_SOURCE_DIR}/tests/windows/com/com.cmake)

# The setup program, and its test under Wine after those above.
include(${CMAKE_SOURCE_DIR}/packaging/windows/windows-setup.cmake)
cmake_language(DEFER CALL include ${CMAKE_SOURCE_DIR}/tests/windows/install/install.cmake)
