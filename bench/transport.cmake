# The transport benchmark (included from bench/CMakeLists.txt).
if(TARGET velq3_server)
  add_executable(bench_transport ${CMAKE_CURRENT_LIST_DIR}/bench_transport.cpp)
  target_link_libraries(bench_transport PRIVATE velq3_server GTest::gtest Threads::Threads)
  target_include_directories(bench_transport PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_compile_definitions(bench_transport PRIVATE
    VELQ3_SIM_PATH="$<TARGET_FILE:velq3-sim>"
    VELQ3_APPS_DIR="${CMAKE_BINARY_DIR}/apps")
  add_dependencies(bench_transport velq3-ctl)
  if(TARGET velq3)
    add_dependencies(bench_transport velq3)
  endif()
endif()
