# The libraries the Windows build compiles itself with the cross compiler,
# from Debian's sources rather than copies in the repository:
# - cJSON: Debian's source package (tools/fetch-deb-source), fetched and
#   unpacked in the build folder when it is configured;
# - GoogleTest and GoogleMock: the googletest package's sources.

set(QUORVIN_DEPS_DIR ${CMAKE_BINARY_DIR}/deps)
execute_process(COMMAND ${PROJECT_SOURCE_DIR}/tools/fetch-deb-source cjson ${QUORVIN_DEPS_DIR}
  RESULT_VARIABLE fetch_rc)
if(NOT fetch_rc EQUAL 0)
  message(FATAL_ERROR "cJSON's sources could not be fetched (tools/install-deps --windows)")
endif()
# The agent includes <cjson/cJSON.h>, as Debian installs it.
file(COPY ${QUORVIN_DEPS_DIR}/cjson/cJSON.h DESTINATION ${QUORVIN_DEPS_DIR}/include/cjson)
add_library(quorvin_cjson STATIC ${QUORVIN_DEPS_DIR}/cjson/cJSON.c)
target_include_directories(quorvin_cjson SYSTEM PUBLIC ${QUORVIN_DEPS_DIR}/include)
# Someone else's code: its warnings are not ours to fix.
target_compile_options(quorvin_cjson PRIVATE -w)

if(BUILD_TESTING)
  set(QUORVIN_GOOGLETEST_DIR /usr/src/googletest CACHE PATH "GoogleTest's sources")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(${QUORVIN_GOOGLETEST_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(lib gtest gtest_main gmock gmock_main)
    target_compile_options(${lib} PRIVATE -w)
  endforeach()
endif()

# Google Benchmark, for the benchmarks run under wine: Debian's source
# package, built only when a benchmark is (make bench-windows).
if(QUORVIN_BENCH)
  execute_process(COMMAND ${PROJECT_SOURCE_DIR}/tools/fetch-deb-source benchmark ${QUORVIN_DEPS_DIR}
    RESULT_VARIABLE fetch_rc)
  if(NOT fetch_rc EQUAL 0)
    message(FATAL_ERROR "Google Benchmark's sources could not be fetched (tools/install-deps --windows)")
  endif()
  foreach(option BENCHMARK_ENABLE_TESTING BENCHMARK_ENABLE_GTEST_TESTS BENCHMARK_ENABLE_INSTALL
                 BENCHMARK_ENABLE_WERROR BENCHMARK_INSTALL_DOCS)
    set(${option} OFF CACHE BOOL "" FORCE)
  endforeach()
  # Debian's patches drop the version taken from git; its build then wants
  # one given.
  set(GIT_VERSION "0.0.0")
  add_subdirectory(${QUORVIN_DEPS_DIR}/benchmark ${CMAKE_BINARY_DIR}/benchmark EXCLUDE_FROM_ALL)
  target_compile_options(benchmark PRIVATE -w)
endif()
