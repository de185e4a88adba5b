# The INDI driver indi_velq3 (included from the top CMakeLists.txt once velq3_indi exists).
# libindidriver supplies main(); the program installs to bin and its driver list to share/indi.
add_executable(indi_velq3 ${CMAKE_CURRENT_LIST_DIR}/indi_velq3_main.cpp)
target_link_libraries(indi_velq3 PRIVATE velq3_indi)
install(TARGETS indi_velq3 RUNTIME DESTINATION bin)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/indi/indi_velq3.xml DESTINATION share/indi)
