# Debian's hardening flags, as dpkg-buildflags gives them with every
# hardening feature on: fortified libc calls, the stack protector, format
# string checks, read-only relocations bound at start-up. Every build but
# the sanitized one gets them, so the program the package ships is the one
# the tests ran. The build type keeps its own optimisation and debug flags,
# and source paths stay as they are (assertions print them).
option(ORB_HARDEN "Build with the hardening flags of dpkg-buildflags" ON)
find_program(ORB_DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT ORB_HARDEN OR ORB_SANITIZE OR NOT ORB_DPKG_BUILDFLAGS)
  return()
endif()

function(orb_buildflags kind out)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
            ${ORB_DPKG_BUILDFLAGS} --get ${kind}
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  list(FILTER flags EXCLUDE REGEX "^-(g|O.*|ffile-prefix-map=.*)$")
  set(${out} ${flags} PARENT_SCOPE)
endfunction()

orb_buildflags(CPPFLAGS cppflags)
orb_buildflags(CXXFLAGS cxxflags)
orb_buildflags(CFLAGS cflags)
orb_buildflags(LDFLAGS ldflags)
# _FORTIFY_SOURCE needs an optimised build; without one it only warns.
if(CMAKE_BUILD_TYPE STREQUAL "Debug")
  list(FILTER cppflags EXCLUDE REGEX "^-D_FORTIFY_SOURCE")
endif()
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:${cppflags}>"
                    "$<$<COMPILE_LANGUAGE:CXX>:${cxxflags}>" "$<$<COMPILE_LANGUAGE:C>:${cflags}>")
add_link_options(${ldflags})
message(STATUS "Hardening flags from dpkg-buildflags: ${cppflags} ${cxxflags} ${ldflags}")
