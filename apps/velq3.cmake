# The velq3 program: the operator window over the device object (included from apps/CMakeLists.txt).
if(TARGET velq3_ui_qt)
  add_executable(velq3 ${CMAKE_CURRENT_LIST_DIR}/velq3_main.cpp)
  target_link_libraries(velq3 PRIVATE velq3_ui_qt velq3_server velq3_alpaca)
  target_compile_definitions(velq3 PRIVATE VELQ3_VERSION="${PROJECT_VERSION}")
  # --simulate starts the simulator found next to this program.
  add_dependencies(velq3 velq3-sim)
endif()
