# `cmake --install` (component "development") puts the C++ library in place: headers
# (not those under internal/, which only the library's own sources include),
# the static libraries and a package file, so that a C++ project needs only
#   find_package(veltrane_rec CONFIG REQUIRED)
#   target_link_libraries(app PRIVATE veltrane_rec::veltrane_rec)
# The Python module installs as the component "python" (what a wheel holds), which a
# plain `cmake --install` leaves out.
include(CMakePackageConfigHelpers)
set(package_dir lib/cmake/veltrane_rec)

add_library(veltrane_rec INTERFACE)
target_link_libraries(veltrane_rec INTERFACE veltrane_storage veltrane_scanner)

install(TARGETS veltrane_rec veltrane_storage veltrane_scanner croaring simdjson
        EXPORT veltrane_rec_targets
        ARCHIVE DESTINATION lib COMPONENT development)
foreach(folder storage scanner)
  install(DIRECTORY "${PROJECT_SOURCE_DIR}/${folder}/" DESTINATION include/veltrane_rec/${folder}
          COMPONENT development FILES_MATCHING PATTERN "*.h" PATTERN "internal" EXCLUDE)
endforeach()
install(FILES "${croaring_dir}/roaring.h" "${simdjson_dir}/simdjson.h"
        DESTINATION ${third_party_include_dir} COMPONENT development)
install(FILES "${croaring_dir}/LICENSE" DESTINATION share/doc/veltrane_rec/croaring COMPONENT development)
install(FILES "${simdjson_dir}/LICENSE" DESTINATION share/doc/veltrane_rec/simdjson COMPONENT development)
install(EXPORT veltrane_rec_targets NAMESPACE veltrane_rec:: DESTINATION ${package_dir}
        COMPONENT development)

file(WRITE "${PROJECT_BINARY_DIR}/veltrane_recConfig.cmake"
  "include(CMakeFindDependencyMacro)\n"
  "find_dependency(Threads)\n"
  "include(\"\${CMAKE_CURRENT_LIST_DIR}/veltrane_rec_targets.cmake\")\n")
write_basic_package_version_file("${PROJECT_BINARY_DIR}/veltrane_recConfigVersion.cmake"
  COMPATIBILITY SameMinorVersion)
install(FILES "${PROJECT_BINARY_DIR}/veltrane_recConfig.cmake" "${PROJECT_BINARY_DIR}/veltrane_recConfigVersion.cmake"
        DESTINATION ${package_dir} COMPONENT development)
