# What `cmake --install` puts under the prefix: the two public headers, the
# shared object with its versioned SONAME (libhibe.so.MAJOR) and links, a
# pkg-config file and a CMake package giving the imported target hibe::hibe.
# Nothing else is installed: the static subsystem libraries, tests, benchmarks
# and fuzzers stay in the build tree.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set_target_properties(hibe PROPERTIES
  VERSION ${PROJECT_VERSION}
  SOVERSION ${PROJECT_VERSION_MAJOR})
target_include_directories(hibe INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

install(TARGETS hibe EXPORT hibeTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/hibe/hibe.h ${PROJECT_SOURCE_DIR}/include/hibe/hibe_list.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/hibe)

# The pkg-config file finds the prefix from its own place, so that it holds for
# whatever prefix `cmake --install --prefix` names.
file(RELATIVE_PATH pc_to_prefix /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" pc_to_prefix "${pc_to_prefix}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/hibe.pc.in ${PROJECT_BINARY_DIR}/hibe.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/hibe.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

set(package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/hibe)
install(EXPORT hibeTargets NAMESPACE hibe:: DESTINATION ${package_dir})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/hibeConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/hibeConfig.cmake
                              INSTALL_DESTINATION ${package_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/hibeConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/hibeConfig.cmake ${PROJECT_BINARY_DIR}/hibeConfigVersion.cmake
        DESTINATION ${package_dir})
