# Test programs of the Windows build (included from cmake/windows.cmake). The platform-independent
# test files are listed one by one: those that need a pseudo-terminal peer, a child process or
# other Linux facilities stay in the Linux build.
set(_t ${CMAKE_SOURCE_DIR}/tests)
