# CRoaring and simdjson, compiled from the pinned amalgamations that
# scripts/third_party.py fetches (when missing) and checks by sha256 at every configure.
# Included before the project's own warning and sanitizer options, which must not reach
# third-party code; each target sets what it needs itself.
set(VELTRANE_THIRD_PARTY_DIR "${PROJECT_SOURCE_DIR}/third_party" CACHE PATH
    "Where the pinned CRoaring and simdjson sources are (fetched there when missing)")

execute_process(
  COMMAND "${Python_EXECUTABLE}" "${PROJECT_SOURCE_DIR}/scripts/third_party.py" "${VELTRANE_THIRD_PARTY_DIR}"
  RESULT_VARIABLE third_party_result)
if(NOT third_party_result EQUAL 0)
  message(FATAL_ERROR "The pinned third-party sources are missing or do not match their sha256 (see the line above)")
endif()
set(croaring_dir "${VELTRANE_THIRD_PARTY_DIR}/croaring")
set(simdjson_dir "${VELTRANE_THIRD_PARTY_DIR}/simdjson")
# A changed or replaced file is checked again before the next build.
set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  "${croaring_dir}/roaring.c" "${croaring_dir}/roaring.h"
  "${simdjson_dir}/simdjson.cpp" "${simdjson_dir}/simdjson.h")
set(third_party_include_dir include/veltrane_rec/third_party)

# CRoaring. -fexceptions: C++ exceptions thrown by the allocation hooks pass through its
# C frames. The sanitizer variant is instrumented like the code that calls it.
add_library(croaring STATIC "${croaring_dir}/roaring.c")
set_target_properties(croaring PROPERTIES C_STANDARD 11 C_STANDARD_REQUIRED ON C_EXTENSIONS OFF)
target_compile_options(croaring PRIVATE -fexceptions
  $<$<BOOL:${VELTRANE_SANITIZE}>:-O1 -g -fno-omit-frame-pointer -fsanitize=address,undefined>)
# SYSTEM: warnings inside the amalgamation stay out of our build.
target_include_directories(croaring SYSTEM PUBLIC
  $<BUILD_INTERFACE:${croaring_dir}> $<INSTALL_INTERFACE:${third_party_include_dir}>)

# simdjson with thread support (the document stream indexes on a worker thread). It is
# always optimized and never instrumented, also in the sanitizer build.
find_package(Threads REQUIRED)
add_library(simdjson STATIC "${simdjson_dir}/simdjson.cpp")
add_library(simdjson::simdjson ALIAS simdjson)
target_compile_options(simdjson PRIVATE $<$<CONFIG:Debug>:-O2 -DNDEBUG>)
# Its development checks change the layout of its classes, so every translation unit must
# agree on them rather than follow its own NDEBUG: on in the Debug (sanitizer) build, off
# elsewhere and in the installed library (installed from the release build).
target_compile_definitions(simdjson PUBLIC SIMDJSON_THREADS_ENABLED=1
  $<BUILD_INTERFACE:SIMDJSON_DEVELOPMENT_CHECKS=$<CONFIG:Debug>>
  $<INSTALL_INTERFACE:SIMDJSON_DEVELOPMENT_CHECKS=0>)
target_compile_features(simdjson PUBLIC cxx_std_17)
target_include_directories(simdjson SYSTEM PUBLIC
  $<BUILD_INTERFACE:${simdjson_dir}> $<INSTALL_INTERFACE:${third_party_include_dir}>)
target_link_libraries(simdjson PUBLIC Threads::Threads)
