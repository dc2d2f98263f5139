# Compiles and runs tests/compiler_probes.cpp with the build's own flags before anything is
# built. Where the compiler gets a probe wrong, retries with the flag that avoids the known fault
# and adds it to the build, or stops with a message naming a compiler that works.
#
#   lubench_check_compiler(<flags...>)  ->  LUBENCH_WORKAROUND_FLAGS (list, possibly empty)
function(lubench_run_probes result_var)
  set(CMAKE_TRY_COMPILE_CONFIGURATION ${CMAKE_BUILD_TYPE})
  try_run(run_status compiled ${CMAKE_BINARY_DIR}/compiler-probes
    SOURCES ${PROJECT_SOURCE_DIR}/tests/compiler_probe_main.cpp
            ${PROJECT_SOURCE_DIR}/tests/compiler_probes.cpp
    CMAKE_FLAGS "-DINCLUDE_DIRECTORIES=${PROJECT_SOURCE_DIR}/tests"
    COMPILE_DEFINITIONS ${ARGN}
    LINK_OPTIONS ${LUBENCH_PROBE_LINK_OPTIONS}
    CXX_STANDARD 20
    CXX_STANDARD_REQUIRED ON
    COMPILE_OUTPUT_VARIABLE compile_output
    RUN_OUTPUT_VARIABLE run_output)
  if(NOT compiled)
    message(FATAL_ERROR "The compiler probes do not compile with the build's flags:\n${compile_output}")
  endif()
  if(run_status EQUAL 0)
    set(${result_var} TRUE PARENT_SCOPE)
  else()
    set(${result_var} FALSE PARENT_SCOPE)
    set(LUBENCH_PROBE_OUTPUT "${run_output}" PARENT_SCOPE)
  endif()
endfunction()

function(lubench_check_compiler)
  set(LUBENCH_WORKAROUND_FLAGS "" PARENT_SCOPE)
  if(CMAKE_CROSSCOMPILING)
    message(WARNING "Cross-compiling: the compiler probes cannot run; the build is not checked for known miscompilations")
    return()
  endif()
  lubench_run_probes(probes_pass ${ARGN})
  if(probes_pass)
    message(STATUS "Compiler probes: ${CMAKE_CXX_COMPILER_ID} ${CMAKE_CXX_COMPILER_VERSION} passed with the build's flags")
    return()
  endif()
  string(STRIP "${LUBENCH_PROBE_OUTPUT}" fault)
  # GCC 12's SLP vectoriser turns some constant initializer lists into broadcasts when AVX-512
  # is enabled; without SLP vectorisation the same code is compiled correctly.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    set(workaround -fno-tree-slp-vectorize)
    lubench_run_probes(probes_pass ${ARGN} ${workaround})
    if(probes_pass)
      message(STATUS "Compiler probes: GCC ${CMAKE_CXX_COMPILER_VERSION} miscompiles with these flags (${fault}); building with ${workaround}, which compiles it correctly")
      set(LUBENCH_WORKAROUND_FLAGS ${workaround} PARENT_SCOPE)
      return()
    endif()
  endif()
  message(FATAL_ERROR "${CMAKE_CXX_COMPILER_ID} ${CMAKE_CXX_COMPILER_VERSION} miscompiles a probe with the build's flags (${fault}) and no known workaround helps. Clang 14 compiles it correctly: cmake --preset clang")
endfunction()
