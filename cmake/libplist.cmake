# libplist through pkg-config, with its version as a number (2.6.0 gives
# 20600) in FERROWIND_LIBPLIST_VERSION for the code it is compiled into:
# plist_from_memory took a fourth parameter in 2.6, and a release ships one
# or the other.
pkg_check_modules(PLIST REQUIRED IMPORTED_TARGET libplist-2.0)
if(NOT PLIST_VERSION MATCHES "^([0-9]+)\\.([0-9]+)(\\.([0-9]+))?")
  message(FATAL_ERROR "libplist-2.0: cannot read the version \"${PLIST_VERSION}\"")
endif()
math(EXPR FERROWIND_LIBPLIST_VERSION "${CMAKE_MATCH_1} * 10000 + ${CMAKE_MATCH_2} * 100 + 0${CMAKE_MATCH_4}")
set_property(TARGET PkgConfig::PLIST APPEND PROPERTY
  INTERFACE_COMPILE_DEFINITIONS FERROWIND_LIBPLIST_VERSION=${FERROWIND_LIBPLIST_VERSION})
