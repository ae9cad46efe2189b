# Read by cpack before it makes a package: refuse one that would lack the
# program or the dependencies computed from it.
if(NOT CPACK_ORVELLIN_HAS_PROGRAM)
  message(FATAL_ERROR "Orvellin: this build has no program to package (ORVELLIN_BUILD_GUI is OFF). "
                      "Configure with -DORVELLIN_BUILD_GUI=ON to make the package.")
endif()
if(CPACK_GENERATOR STREQUAL "DEB")
  find_program(ORVELLIN_SHLIBDEPS dpkg-shlibdeps)
  if(NOT ORVELLIN_SHLIBDEPS)
    message(FATAL_ERROR "Orvellin: dpkg-shlibdeps (Debian's dpkg-dev) is needed to compute the package's "
                        "dependencies; without it the package would depend on nothing.")
  endif()
endif()
