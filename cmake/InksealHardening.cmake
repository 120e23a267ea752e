# The hardening Debian's own packages get, taken from dpkg-buildflags so it
# follows the distribution's policy: fortified libc calls, stack protector,
# format checks, position-independent executables and full RELRO with
# immediate binding (the backend runs as root).  The optimisation and debug
# flags stay with the build type.  -ffile-prefix-map is computed from the
# source folder, so two checkouts in different places build the same bytes.
find_program(INKSEAL_DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)

function(inkseal_dpkg_buildflags kind out)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
            ${INKSEAL_DPKG_BUILDFLAGS} --get ${kind}
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  list(FILTER flags EXCLUDE REGEX "^-(O[0-9s]?|g)$")
  set(${out} ${flags} PARENT_SCOPE)
endfunction()

inkseal_dpkg_buildflags(CPPFLAGS INKSEAL_HARDEN_CPPFLAGS)
inkseal_dpkg_buildflags(CXXFLAGS INKSEAL_HARDEN_CXXFLAGS)
inkseal_dpkg_buildflags(LDFLAGS INKSEAL_HARDEN_LDFLAGS)
# Fortification needs the optimiser; unoptimised it is only a warning, which
# -Werror would turn into a failed Debug build.  It also marks many libc
# calls (system, write, ...) as results not to be ignored: that stays a
# warning to mend, not a build that fails only where it is hardened.
add_compile_options("$<$<NOT:$<CONFIG:Debug>>:${INKSEAL_HARDEN_CPPFLAGS}>" ${INKSEAL_HARDEN_CXXFLAGS}
                    -Wno-error=unused-result)
add_link_options(${INKSEAL_HARDEN_LDFLAGS})

# Debian's compiler builds PIE by default; say so, so another compiler does too.
include(CheckPIESupported)
check_pie_supported()
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
