# Compiler settings shared by every target, and the suffix that picks each
# platform's half of the operating-system seam.

if(WIN32)
  set(INKSEAL_PLATFORM_SUFFIXES win)
else()
  set(INKSEAL_PLATFORM_SUFFIXES posix gtk)
endif()

add_compile_options(-Wall -Wextra -Werror)

if(WIN32)
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  # Every executable must run alone under Windows: no libstdc++/libgcc DLLs.
  add_link_options(-static -static-libgcc -static-libstdc++)
  # Address-space randomisation (64-bit, relocatable image) and no execution
  # from data pages.  No link time in the header either: the same sources
  # give the same bytes (the packaging stamps SOURCE_DATE_EPOCH instead).
  add_link_options(-Wl,--dynamicbase,--nxcompat,--high-entropy-va,--no-insert-timestamp)
elseif(INKSEAL_HARDEN AND NOT INKSEAL_SANITIZE AND NOT INKSEAL_FUZZ)
  include(cmake/InksealHardening.cmake)
endif()

if(INKSEAL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

# inkseal_sources(<var> <dir>): the platform-free *.cpp of a directory plus the
# files whose suffix names the platform being built.
function(inkseal_sources out dir)
  file(GLOB all CONFIGURE_DEPENDS "${dir}/*.cpp")
  set(result "")
  foreach(f IN LISTS all)
    get_filename_component(stem "${f}" NAME_WE)
    if(stem MATCHES "_(win|posix|gtk)$")
      string(REGEX REPLACE ".*_(win|posix|gtk)$" "\\1" suffix "${stem}")
      if(suffix IN_LIST INKSEAL_PLATFORM_SUFFIXES)
        list(APPEND result "${f}")
      endif()
    else()
      list(APPEND result "${f}")
    endif()
  endforeach()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

# inkseal_gui_program(<target>): a windowed program, no console on Windows.
function(inkseal_gui_program target)
  if(WIN32)
    set_target_properties(${target} PROPERTIES WIN32_EXECUTABLE ON)
    target_link_options(${target} PRIVATE -municode)
  endif()
endfunction()
