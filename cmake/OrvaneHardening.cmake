# Hardening of the shipped programs: buffer-overflow checks in the C library's string and
# memory functions (_FORTIFY_SOURCE), stack canaries, position-independent executables and a
# read-only relocation table bound at start-up, as Debian builds its own packages.
#
# On by default for the optimised build types (Release, RelWithDebInfo, MinSizeRel), which
# the package is built from. Off for Debug (_FORTIFY_SOURCE needs optimisation) and for the
# sanitizer and fuzzer builds, whatever ORVANE_HARDENING says: the sanitizers intercept the
# same functions the fortified wrappers replace, and their reports then point into the
# wrappers instead of at the fault.
#
# Reads orvane_sanitize and ORVANE_FUZZ, set by the top CMakeLists.txt before this is included;
# must come before the first target, which takes CMAKE_POSITION_INDEPENDENT_CODE when made.
option(ORVANE_HARDENING "Harden the optimised builds (fortify, stack protector, PIE, RELRO)" ON)

set(orvane_hardened_configs Release RelWithDebInfo MinSizeRel)
set(ORVANE_HARDENING_ACTIVE OFF)
if(ORVANE_HARDENING AND NOT orvane_sanitize AND NOT ORVANE_FUZZ)
  # A generator of several build types decides per type below; one of a single type is
  # hardened only when that type is one of them.
  if(CMAKE_CONFIGURATION_TYPES OR CMAKE_BUILD_TYPE IN_LIST orvane_hardened_configs)
    set(ORVANE_HARDENING_ACTIVE ON)
  endif()
endif()

if(ORVANE_HARDENING_ACTIVE)
  include(CheckPIESupported)
  check_pie_supported(OUTPUT_VARIABLE orvane_pie_output LANGUAGES C CXX)
  if(NOT CMAKE_CXX_LINK_PIE_SUPPORTED)
    message(WARNING "The linker makes no position-independent executables: ${orvane_pie_output}")
  endif()
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)

  # A build type whose flags turn optimisation off would get glibc's warning that
  # _FORTIFY_SOURCE needs it, once per file; such a type keeps the other measures.
  set(orvane_fortified_configs)
  foreach(config IN LISTS orvane_hardened_configs)
    string(TOUPPER "${config}" upper)
    if(NOT "${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_${upper}}" MATCHES "(^| )-O0( |$)")
      list(APPEND orvane_fortified_configs ${config})
    endif()
  endforeach()
  string(REPLACE ";" "," orvane_hardened "${orvane_hardened_configs}")
  string(REPLACE ";" "," orvane_fortified "${orvane_fortified_configs}")

  # Some compilers predefine _FORTIFY_SOURCE (at another level); undefining it first keeps
  # the redefinition from warning.
  if(orvane_fortified_configs)
    add_compile_options("$<$<CONFIG:${orvane_fortified}>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
  endif()
  add_compile_options("$<$<CONFIG:${orvane_hardened}>:-fstack-protector-strong>")
  add_link_options("$<$<CONFIG:${orvane_hardened}>:LINKER:-z,relro,-z,now>")
endif()
