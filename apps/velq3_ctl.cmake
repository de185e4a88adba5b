# velq3-ctl, the command-line automation client; and, for builds without the window program,
# a headless velq3 (included from apps/CMakeLists.txt, after velq3.cmake).
if(TARGET velq3_automation)
  add_executable(velq3-ctl ${CMAKE_CURRENT_LIST_DIR}/velq3_ctl_main.cpp)
  target_link_libraries(velq3-ctl PRIVATE velq3_automation)
endif()

if(NOT TARGET velq3 AND TARGET velq3_server)
  add_executable(velq3 ${CMAKE_CURRENT_LIST_DIR}/velq3_server_main.cpp)
  target_link_libraries(velq3 PRIVATE velq3_server)
  target_compile_definitions(velq3 PRIVATE VELQ3_VERSION="${PROJECT_VERSION}")
endif()
