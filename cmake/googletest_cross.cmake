# GoogleTest for a cross build: Debian's sources compiled with the cross compiler, since the
# installed libraries are Linux ones. Its own build names the targets GTest::gtest and
# GTest::gtest_main, as find_package does.
set(QDIE_GOOGLETEST_SOURCE_DIR /usr/src/googletest/googletest
    CACHE PATH "GoogleTest's sources (Debian's googletest package)")
if(NOT EXISTS "${QDIE_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt")
  message(FATAL_ERROR "No GoogleTest sources in ${QDIE_GOOGLETEST_SOURCE_DIR}: install googletest")
endif()
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory("${QDIE_GOOGLETEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
