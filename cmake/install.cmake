# What `make install` puts where: the two programs, the libraries with
# their public headers (the rule model; reading and mining event logs), a CMake package (find_package(quorvel)), a
# pkg-config file and the man pages.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS quorvel-rules quorvel-links RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The mining API: reading event logs and mining them.
add_library(quorvel_mining INTERFACE)
target_link_libraries(quorvel_mining INTERFACE quorvel_engine quorvel_ingest)
set_target_properties(quorvel_ingest PROPERTIES EXPORT_NAME ingest)
set_target_properties(quorvel_engine PROPERTIES EXPORT_NAME engine)
set_target_properties(quorvel_mining PROPERTIES EXPORT_NAME mining)
install(TARGETS brenlo quorvel quorvel_ingest quorvel_engine quorvel_mining EXPORT quorvelTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/brenlo ${PROJECT_SOURCE_DIR}/include/quorvel
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(QUORVEL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/quorvel)
install(EXPORT quorvelTargets NAMESPACE quorvel:: DESTINATION ${QUORVEL_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/quorvelConfig.cmake.in
  ${PROJECT_BINARY_DIR}/quorvelConfig.cmake INSTALL_DESTINATION ${QUORVEL_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/quorvelConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/quorvelConfig.cmake
  ${PROJECT_BINARY_DIR}/quorvelConfigVersion.cmake DESTINATION ${QUORVEL_CMAKE_DIR})

# The pkg-config file finds the prefix from where it lies, so an install
# with `cmake --install --prefix` elsewhere stays right.
file(RELATIVE_PATH QUORVEL_PC_TO_PREFIX "/p/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/p")
configure_file(${PROJECT_SOURCE_DIR}/cmake/quorvel.pc.in ${PROJECT_BINARY_DIR}/quorvel.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/quorvel.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(FILES ${PROJECT_SOURCE_DIR}/man/quorvel-rules.1 ${PROJECT_SOURCE_DIR}/man/quorvel-links.1
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
