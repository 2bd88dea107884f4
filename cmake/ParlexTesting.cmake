# Test, fuzzer and benchmark registration.
#
# Every test executable is a GoogleTest program. On Linux each test case is
# its own ctest entry; on the win32 build ctest runs the executables through
# Wine (CMAKE_CROSSCOMPILING_EMULATOR), and a test marked WHOLE runs as one
# entry so that Wine starts once for it.

if(PARLEX_BUILD_TESTS)
  enable_testing()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  if(EXISTS /usr/src/googletest/CMakeLists.txt)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/third_party/googletest EXCLUDE_FROM_ALL SYSTEM)
  else()
    message(FATAL_ERROR "GoogleTest sources not found in /usr/src/googletest: run scripts/setup")
  endif()
  include(GoogleTest)
endif()

# parlex_add_gtest(name SOURCES ... [LIBS ...] [WHOLE] [TIMEOUT s] [LABELS ...])
# BUILD_ONLY builds the program and leaves registering it to the caller (a
# test that needs a driver around it).
function(parlex_add_gtest name)
  if(NOT PARLEX_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "WHOLE;BUILD_ONLY" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES})
  parlex_warnings(${name})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
  if(T_BUILD_ONLY)
    return()
  endif()
  if(T_WHOLE OR PARLEX_WIN32)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
      PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
  endif()
endfunction()

# parlex_add_fuzzer(name SOURCES ... [LIBS ...] [SEEDS dir ...]): a libFuzzer
# target, run briefly as a test of the sanitizer build. It starts from the
# seed folders (real inputs: files the program reads, recorded replies); what
# it finds goes to a corpus folder of its own in the build tree, never into
# the seeds.
function(parlex_add_fuzzer name)
  if(NOT PARLEX_BUILD_FUZZERS)
    return()
  endif()
  cmake_parse_arguments(F "" "" "SOURCES;LIBS;SEEDS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  parlex_warnings(${name})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  set(corpus ${CMAKE_CURRENT_BINARY_DIR}/${name}_corpus)
  file(MAKE_DIRECTORY ${corpus})
  add_test(NAME ${name} COMMAND ${name} -runs=200000 -max_total_time=30 ${corpus} ${F_SEEDS})
  set_tests_properties(${name} PROPERTIES TIMEOUT 120 LABELS fuzz)
endfunction()

# parlex_add_bench(name SOURCES ... [LIBS ...]): a Google Benchmark program
# (Linux build only); benchmarks are run by hand, never as tests.
function(parlex_add_bench name)
  if(PARLEX_WIN32 OR PARLEX_SANITIZE)
    return()
  endif()
  find_package(benchmark QUIET)
  if(NOT benchmark_FOUND)
    message(STATUS "Google Benchmark not found: ${name} not built")
    return()
  endif()
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${B_SOURCES})
  parlex_warnings(${name})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark)
endfunction()
