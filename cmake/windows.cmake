# The Windows build (included from the top CMakeLists.txt when cross-compiling with
# cmake/mingw-w64-x86_64.cmake): only the folders Windows has, no Qt, no INDI, no Linux-only
# programs. Test programs run under Wine through CMAKE_CROSSCOMPILING_EMULATOR in one prefix per
# test run (tests/windows/wine-prefix.sh, a ctest fixture) whose COM ports are all mapped first.

# Windows 7 API level and Unicode Win32 names; no min/max macros in the way of std::min.
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN)

# GoogleTest from Debian's sources (libgtest-dev ships them), built with the cross compiler.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
# It defines the GTest:: targets the tests link.
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# Header-only libraries of the Linux packages (Boost.Asio/Beast, nlohmann-json) through a folder
# that holds only links to them: /usr/include itself would bring in glibc's headers.
set(VELQ3_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${VELQ3_HOST_HEADERS})
foreach(_lib boost nlohmann)
  if(EXISTS /usr/include/${_lib} AND NOT EXISTS ${VELQ3_HOST_HEADERS}/${_lib})
    file(CREATE_LINK /usr/include/${_lib} ${VELQ3_HOST_HEADERS}/${_lib} SYMBOLIC)
  endif()
endforeach()
add_library(velq3_host_headers INTERFACE)
target_include_directories(velq3_host_headers SYSTEM INTERFACE ${VELQ3_HOST_HEADERS})

velq3_library(velq3_platform platform)
target_link_libraries(velq3_platform PUBLIC Threads::Threads advapi32 user32)

velq3_library(velq3_link link)
target_link_libraries(velq3_link PUBLIC velq3_platform)

velq3_library(velq3_device device)
target_link_libraries(velq3_device PUBLIC velq3_link)

velq3_library(velq3_service service)
target_link_libraries(velq3_service PUBLIC velq3_device velq3_platform)

# The Alpaca face: Beast/Asio over Winsock; the INDI face stays Linux-only.
velq3_library(velq3_alpaca alpaca)
include(${CMAKE_SOURCE_DIR}/alpaca/www/www.cmake)
velq3_embed_www(velq3_alpaca)
target_link_libraries(velq3_alpaca PUBLIC velq3_service velq3_device velq3_platform velq3_host_headers
                      Threads::Threads ws2_32 mswsock iphlpapi)
target_compile_definitions(velq3_alpaca PRIVATE VELQ3_VERSION="${PROJECT_VERSION}")

# The COM layer and what stands on it join once automation/ has its Windows body.
if(EXISTS ${CMAKE_SOURCE_DIR}/automation/win32)
  velq3_library(velq3_automation automation)
  target_link_libraries(velq3_automation PUBLIC velq3_platform ole32 oleaut32 uuid)
  velq3_library(velq3_drivers drivers)
  target_link_libraries(velq3_drivers PUBLIC velq3_device velq3_automation)
  velq3_library(velq3_server server)
  target_link_libraries(velq3_server PUBLIC velq3_drivers velq3_automation velq3_service velq3_device velq3_platform)
endif()

# The dialogs' templates and rules (toolkit-free), and their Win32 layer.
file(GLOB _ui_src CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/ui/*.cpp)
add_library(velq3_ui STATIC ${_ui_src})
target_include_directories(velq3_ui PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(velq3_ui PUBLIC velq3_device)
velq3_library(velq3_ui_win32 ui/win32)
target_link_libraries(velq3_ui_win32 PUBLIC velq3_ui comctl32 comdlg32 shell32 gdi32 user32)
# The windows' icon (made from packaging/velq3.svg by scripts/windows-icon.sh), icon resource 1
# of each program that opens them: a source of those programs, since a static library's
# resources would not be linked.
enable_language(RC)
set(VELQ3_ICON_RC ${CMAKE_BINARY_DIR}/velq3_icon.rc)
file(WRITE ${VELQ3_ICON_RC} "1 ICON \"${CMAKE_SOURCE_DIR}/apps/velq3.ico\"\n")
set_source_files_properties(${VELQ3_ICON_RC} PROPERTIES OBJECT_DEPENDS ${CMAKE_SOURCE_DIR}/apps/velq3.ico)

# The Windows programs (velq3.exe, velq3-ctl.exe), when their build file exists.
include(${CMAKE_SOURCE_DIR}/apps/windows.cmake OPTIONAL)

# ---- Tests under Wine ----

# The Linux build's simulator, which the serial-port tests run on a pseudo-terminal mapped as COM1.
set(VELQ3_LINUX_SIM "${CMAKE_SOURCE_DIR}/build/apps/velq3-sim" CACHE FILEPATH
    "velq3-sim of a Linux build tree, for the Windows serial-port tests")
# The test run's Wine folder (prefix, port map, logs); VELQ3_WINE_DIR in the environment of ctest
# overrides it (the unprivileged run gives its user a folder of its own).
set(VELQ3_WINE_DIR_DEFAULT ${CMAKE_BINARY_DIR}/wine)
set(_wine_env "VELQ3_WINE_DEFAULT_DIR=${VELQ3_WINE_DIR_DEFAULT}")
set(_windows_tests ${CMAKE_SOURCE_DIR}/tests/windows)

add_test(NAME wine_prefix_setup COMMAND ${_windows_tests}/wine-prefix.sh setup)
add_test(NAME wine_prefix_cleanup COMMAND ${_windows_tests}/wine-prefix.sh cleanup)
set_tests_properties(wine_prefix_setup PROPERTIES FIXTURES_SETUP wine_prefix ENVIRONMENT "${_wine_env}"
                     LABELS windows TIMEOUT 120)
set_tests_properties(wine_prefix_cleanup PROPERTIES FIXTURES_CLEANUP wine_prefix ENVIRONMENT "${_wine_env}"
                     LABELS windows TIMEOUT 60)

add_test(NAME com1_sim_start COMMAND ${_windows_tests}/com1-sim.sh start ${VELQ3_LINUX_SIM})
add_test(NAME com1_sim_stop COMMAND ${_windows_tests}/com1-sim.sh stop)
set_tests_properties(com1_sim_start PROPERTIES FIXTURES_SETUP com1_sim FIXTURES_REQUIRED wine_prefix
                     ENVIRONMENT "${_wine_env}" LABELS windows TIMEOUT 30)
set_tests_properties(com1_sim_stop PROPERTIES FIXTURES_CLEANUP com1_sim FIXTURES_REQUIRED wine_prefix
                     ENVIRONMENT "${_wine_env}" LABELS windows TIMEOUT 30)

# A test program from the listed sources, run as one ctest test under Wine (one Wine start per
# program, not per case). USES_COM1: it needs the simulator on COM1, which tests take in turns.
# USES_DISPLAY: it shows windows on the run's X display, which tests take in turns too, so that
# no window of one test covers a window another test clicks at or sends keys to.
function(velq3_windows_tests name)
  cmake_parse_arguments(T "USES_COM1;USES_DISPLAY" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  set(_fixtures wine_prefix)
  set(_locks "")
  if(T_USES_COM1)
    list(APPEND _fixtures com1_sim)
    list(APPEND _locks com1)
  endif()
  if(T_USES_DISPLAY)
    list(APPEND _locks display)
  endif()
  if(_locks)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${_locks}")
  endif()
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED "${_fixtures}" ENVIRONMENT "${_wine_env}"
                       LABELS "windows;${name}" TIMEOUT 300)
endfunction()

include(${_windows_tests}/tests.cmake)
