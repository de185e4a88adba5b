# The Alpaca benchmarks (included from bench/CMakeLists.txt); bench/alpaca_wrk.sh is the other.
if(TARGET velq3_alpaca)
  add_executable(bench_alpaca_move ${CMAKE_CURRENT_LIST_DIR}/bench_alpaca_move.cpp)
  target_link_libraries(bench_alpaca_move PRIVATE nlohmann_json::nlohmann_json GTest::gtest Threads::Threads)
  target_include_directories(bench_alpaca_move PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_compile_definitions(bench_alpaca_move PRIVATE
    VELQ3_SIM_PATH="$<TARGET_FILE:velq3-sim>"
    VELQ3_APPS_DIR="${CMAKE_BINARY_DIR}/apps")
  add_dependencies(bench_alpaca_move velq3-sim)
  if(TARGET velq3)
    add_dependencies(bench_alpaca_move velq3)
  endif()
endif()

if(TARGET velq3_alpaca)
  # A fresh client beside many idle kept-alive connections; bench/alpaca_idle.sh runs it.
  add_executable(bench_alpaca_idle ${CMAKE_CURRENT_LIST_DIR}/bench_alpaca_idle.cpp)
  target_include_directories(bench_alpaca_idle PRIVATE ${CMAKE_SOURCE_DIR}/tests)
endif()
