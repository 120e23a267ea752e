# Unit tests use GoogleTest built from Debian's sources, so the native and the
# MinGW build use the very same framework.
if(INKSEAL_TESTS AND NOT INKSEAL_FUZZ)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()

enable_testing()

# Under Wine the tests run through tools/wine-run.sh (the cross-compiling
# emulator), which keeps its prefix inside the build tree.
if(WIN32 AND CMAKE_CROSSCOMPILING)
  set(INKSEAL_WINE_RUN "${CMAKE_SOURCE_DIR}/tools/wine-run.sh")
  set(CMAKE_CROSSCOMPILING_EMULATOR "${INKSEAL_WINE_RUN}" CACHE STRING "" FORCE)
endif()

# inkseal_gtest(<name> SOURCES ... LIBS ... [TIMEOUT s] [LABELS ...])
function(inkseal_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS;ENVIRONMENT" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "INKSEAL_SOURCE_DIR=${CMAKE_SOURCE_DIR};INKSEAL_BINARY_DIR=${CMAKE_BINARY_DIR};${T_ENVIRONMENT}")
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
  if(WIN32 AND CMAKE_CROSSCOMPILING)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine_prefix)
  endif()
endfunction()
