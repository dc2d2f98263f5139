# Installation and the Debian package.
#
# cmake --install puts the programs, their manual pages and the documentation where Debian
# expects them under any prefix (bin/, share/man/man1/, share/doc/lubench/). CPack builds a .deb
# of them, but only from a build whose code outside the vector paths is for the compiler's
# baseline target (LUBENCH_NATIVE=OFF, the baseline preset): a package's binary chooses its vector
# path on the machine it lands on, and one built for the build machine's instruction set may not
# start on another.

include(GNUInstallDirs)

install(TARGETS lubench RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
if(LUBENCH_BUILD_REPORT)
  install(TARGETS lubench-report RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
endif()

# Manual pages, compressed as Debian keeps them. lubench's is written by hand (running lubench
# runs the benchmark); lubench-report's is made from its help texts by help2man.
set(man_dir "${CMAKE_BINARY_DIR}/man")
configure_file(docs/man/lubench.1 "${man_dir}/lubench.1" @ONLY)
set(LUBENCH_MAN_PAGES "${man_dir}/lubench.1")
if(LUBENCH_BUILD_REPORT)
  find_program(LUBENCH_HELP2MAN help2man)
  if(LUBENCH_HELP2MAN)
    add_custom_command(
      OUTPUT "${man_dir}/lubench-report.1"
      COMMAND "${CMAKE_COMMAND}" "-DHELP2MAN=${LUBENCH_HELP2MAN}"
              "-DREPORT=$<TARGET_FILE:lubench-report>" "-DOUTPUT=${man_dir}/lubench-report.1"
              -P "${CMAKE_SOURCE_DIR}/cmake/ReportManPage.cmake"
      DEPENDS lubench-report "${CMAKE_SOURCE_DIR}/cmake/ReportManPage.cmake"
      COMMENT "Writing lubench-report's manual page from its help texts"
      VERBATIM)
    list(APPEND LUBENCH_MAN_PAGES "${man_dir}/lubench-report.1")
  else()
    lubench_left_out("lubench-report's manual page" "help2man")
  endif()
endif()
set(compressed_pages "")
foreach(page IN LISTS LUBENCH_MAN_PAGES)
  get_filename_component(page_name "${page}" NAME)
  add_custom_command(
    OUTPUT "${page}.gz"
    COMMAND "${CMAKE_COMMAND}" "-DINPUT=${page}" "-DOUTPUT=${page}.gz"
            -P "${CMAKE_SOURCE_DIR}/cmake/Gzip.cmake"
    DEPENDS "${page}" "${CMAKE_SOURCE_DIR}/cmake/Gzip.cmake"
    COMMENT "Compressing the manual page ${page_name}"
    VERBATIM)
  list(APPEND compressed_pages "${page}.gz")
endforeach()
add_custom_target(lubench_man_pages ALL DEPENDS ${compressed_pages})
install(FILES ${compressed_pages} DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")

# The README at the top of the documentation directory and docs/ beside it, so that the
# README's links hold.
install(FILES README.md DESTINATION "${CMAKE_INSTALL_DOCDIR}")
install(DIRECTORY docs/ DESTINATION "${CMAKE_INSTALL_DOCDIR}/docs"
        FILES_MATCHING PATTERN "*.md" PATTERN "*.png" PATTERN "*.svg" PATTERN "*.json"
        PATTERN "man" EXCLUDE)

if(LUBENCH_NATIVE OR LUBENCH_SANITIZE)
  message(STATUS "Debian package: not from this build (it needs LUBENCH_NATIVE=OFF and no sanitizers: the baseline preset)")
  set(LUBENCH_PACKAGE OFF)
  return()
endif()
set(LUBENCH_PACKAGE ON)
set(LUBENCH_PACKAGE_MAINTAINER "lubench developers <lubench@localhost>" CACHE STRING
    "The Maintainer field of the Debian package")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lubench)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "single-threaded blocked LU benchmark with a reporter that compares builds, cores and nodes")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "lubench times one blocked LU factorisation with row interchanges of a random 4096 x 4096\n\
matrix and the two triangular solves on one core, on the widest vector path the processor\n\
runs, with results bit for bit equal to the plain scalar order of operations on every path.\n\
lubench-report runs the same work and reports each step's time, the scaled residual, a\n\
fingerprint of the factorisation and the share of the core's peak; it compares saved runs,\n\
alternates two builds, exports to other tools and screens every core and node of a fleet.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${LUBENCH_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION math)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The libraries the programs link (the C++ runtime, LAPACKE and its BLAS where the build has
# them) found by dpkg-shlibdeps; gnuplot draws --plot's pictures and is not needed otherwise;
# mpirun or srun start a fleet's ranks.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gnuplot-nox | gnuplot")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "openmpi-bin | slurm-client")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/package")
include(CPack)
