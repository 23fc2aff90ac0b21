find_package(GTest REQUIRED)
include(GoogleTest)

# orvane_add_test(<name> SOURCES <files...> LIBS <libs...> [LABELS display])
# One GoogleTest executable; each TEST becomes its own ctest case, and ctest runs the cases
# as separate processes side by side. Tests get the source directory in ORVANE_SOURCE_DIR
# and the executable's scratch directory in ORVANE_TEST_TMP; each case writes only inside
# its own folder there, TestScratchPath() of tests/support/ScratchPath.h, named after the
# running case. Label "display" marks tests that need an X display (they run under
# xvfb-run). Every test of tests/<layer> also carries the label <layer>, so that a stage
# can run the tests of some layers (ctest -L '^(surface|lod)$').
#
# Targets for stages that build only what they run: orvane_tests builds every test program
# (and, through their dependencies, the programs they start); orvane_headless_tests_<layer>
# those of tests/<layer> that need no display.
add_custom_target(orvane_tests)
function(orvane_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  get_filename_component(layer "${CMAKE_CURRENT_SOURCE_DIR}" NAME)
  # A directory's labels reach every test in it, those a test program not built stands for too.
  set_property(DIRECTORY PROPERTY LABELS ${layer})
  add_dependencies(orvane_tests ${name})
  if(NOT "display" IN_LIST T_LABELS)
    if(NOT TARGET orvane_headless_tests_${layer})
      add_custom_target(orvane_headless_tests_${layer})
    endif()
    add_dependencies(orvane_headless_tests_${layer} ${name})
  endif()
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  if(TARGET orvane_test_support)
    target_link_libraries(${name} PRIVATE orvane_test_support)
  endif()
  target_compile_definitions(${name} PRIVATE
    ORVANE_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    ORVANE_TEST_TMP="${CMAKE_BINARY_DIR}/test-tmp/${name}")
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/test-tmp/${name})
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 300 LABELS "${T_LABELS}")
endfunction()
