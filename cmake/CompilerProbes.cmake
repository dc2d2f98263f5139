# Compiles and runs tests/compiler_probes.cpp with a set of the build's flags before anything is
# built. Where the compiler gets a probe wrong, retries with the flag that avoids the known fault
# and adds it, or stops with a message naming a compiler that works.
#
#   lubench_check_compiler(<result_var> <label> <flags...>)
#       -> <result_var>: the workaround flags for those flags (list, possibly empty)
#   lubench_cpu_runs(<result_var> <isa...>)
#       -> <result_var>: TRUE when this machine runs every instruction set named (avx512, avx2,
#          avx, sse2), so that probes compiled for them can be run here
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

function(lubench_cpu_runs result_var)
  try_run(run_status compiled ${CMAKE_BINARY_DIR}/cpu-supports
    SOURCES ${PROJECT_SOURCE_DIR}/tests/cpu_supports_main.cpp
    CXX_STANDARD 20
    CXX_STANDARD_REQUIRED ON
    COMPILE_OUTPUT_VARIABLE compile_output
    ARGS ${ARGN})
  if(compiled AND run_status EQUAL 0)
    set(${result_var} TRUE PARENT_SCOPE)
  else()
    set(${result_var} FALSE PARENT_SCOPE)
  endif()
endfunction()

# GCC 12's SLP vectoriser turns some constant initializer lists into broadcasts when AVX-512
# is enabled; without SLP vectorisation the same code is compiled correctly.
set(LUBENCH_GCC_WORKAROUND -fno-tree-slp-vectorize)

function(lubench_check_compiler result_var label)
  set(${result_var} "" PARENT_SCOPE)
  if(CMAKE_CROSSCOMPILING)
    message(WARNING "Cross-compiling: the compiler probes cannot run; the build is not checked for known miscompilations")
    return()
  endif()
  lubench_run_probes(probes_pass ${ARGN})
  if(probes_pass)
    message(STATUS "Compiler probes (${label}): ${CMAKE_CXX_COMPILER_ID} ${CMAKE_CXX_COMPILER_VERSION} passed")
    return()
  endif()
  string(STRIP "${LUBENCH_PROBE_OUTPUT}" fault)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    lubench_run_probes(probes_pass ${ARGN} ${LUBENCH_GCC_WORKAROUND})
    if(probes_pass)
      message(STATUS "Compiler probes (${label}): GCC ${CMAKE_CXX_COMPILER_VERSION} miscompiles with these flags (${fault}); building with ${LUBENCH_GCC_WORKAROUND}, which compiles it correctly")
      set(${result_var} ${LUBENCH_GCC_WORKAROUND} PARENT_SCOPE)
      return()
    endif()
  endif()
  message(FATAL_ERROR "${CMAKE_CXX_COMPILER_ID} ${CMAKE_CXX_COMPILER_VERSION} miscompiles a probe with the flags of ${label} (${fault}) and no known workaround helps. Clang 14 compiles it correctly: cmake --preset clang")
endfunction()
