# Runs the Windows test programs of a cross build under Wine, against Wine's own CRYPT32 and
# RSAENH. Every run starts from a fresh prefix, made once by a setup test that the suites require;
# the suites share its registry (system stores, key containers), so they never run side by side.
find_program(QDIE_WINE wine REQUIRED)
set(QDIE_WINE_PREFIX "${CMAKE_BINARY_DIR}/wine-prefix")
set(qdie_wine_environment "WINEPREFIX=${QDIE_WINE_PREFIX}" "WINEDEBUG=-all")
# A new prefix maps the whole Linux file system to this drive: a build path with it in front is
# a Windows path.
set(QDIE_WINE_DRIVE "Z:")

add_test(NAME wine_prefix
         COMMAND sh ${PROJECT_SOURCE_DIR}/tests/wine/new_prefix.sh ${QDIE_WINE})
set_tests_properties(wine_prefix PROPERTIES
  FIXTURES_SETUP wine_prefix
  ENVIRONMENT "${qdie_wine_environment}"
  RESOURCE_LOCK wine_prefix
  LABELS wine)

# One ctest test per program, so that Wine starts once per program rather than once per case.
# Arguments after the label are the program's own; every suite is labelled wine besides its own.
function(qdie_add_wine_suite target label)
  add_test(NAME ${target} COMMAND ${QDIE_WINE} $<TARGET_FILE:${target}> ${ARGN})
  set_tests_properties(${target} PROPERTIES
    FIXTURES_REQUIRED wine_prefix
    ENVIRONMENT "${qdie_wine_environment}"
    RESOURCE_LOCK wine_prefix
    LABELS "wine;${label}"
    TIMEOUT 900)
endfunction()
