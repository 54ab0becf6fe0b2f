# ombra_component(NAME SOURCES...): an in-process component, a shared library
# named NAME.so (no "lib" prefix) that exports only its four Dll* functions.
function(ombra_component name)
  add_library(${name} MODULE ${ARGN})
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  target_link_libraries(${name} PRIVATE ombra_platform ombra_common)
endfunction()

# ombra_test(NAME SOURCES... [LABELS l...] [LIBS l...] [TIMEOUT s]
#            [PROCESSORS n]): a GoogleTest program registered with CTest.
# Every test runs with a private registry folder and a scripted message-box
# answer so nothing ever waits on a dialog. PROCESSORS is what one of its
# tests keeps busy (simulated boards run in real time against the protocols'
# time limits), so a parallel ctest never starts more than the machine holds.
function(ombra_test name)
  cmake_parse_arguments(T "" "TIMEOUT;PROCESSORS" "SOURCES;LABELS;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main ${T_LIBS})
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  if(NOT T_PROCESSORS)
    set(T_PROCESSORS 1)
  endif()
  # The environment goes through `cmake -E env` as the test launcher: a list
  # in the ENVIRONMENT property does not survive test discovery.
  set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR
    "${CMAKE_COMMAND};-E;env;OMBRA_MESSAGEBOX=no;OMBRA_RUN_DIR=${OMBRA_RUN_DIR};OMBRA_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT} PROCESSORS ${T_PROCESSORS})
endfunction()
