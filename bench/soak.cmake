# The clients of the night soak (included from bench/CMakeLists.txt); bench/soak.sh runs them.
if(TARGET velq3_alpaca)
  add_executable(bench_soak ${CMAKE_CURRENT_LIST_DIR}/bench_soak.cpp)
  target_link_libraries(bench_soak PRIVATE nlohmann_json::nlohmann_json Threads::Threads)
  target_include_directories(bench_soak PRIVATE ${CMAKE_SOURCE_DIR}/tests)
endif()
