# The module SDK as a library: the header as the interface target Quenby::ISAPI, which the
# sample and test modules build against too, and its install as a relocatable CMake package
# (find_package(QuenbyISAPI)) and a pkg-config file (quenby-isapi). The SDK holds no compiled
# code, so all of it goes under share/.
include(CMakePackageConfigHelpers)

set(QUENBY_SDK_CMAKE_DIR share/cmake/QuenbyISAPI)
set(QUENBY_SDK_PKGCONFIG_DIR share/pkgconfig)

add_library(quenby_isapi_sdk INTERFACE)
target_include_directories(quenby_isapi_sdk INTERFACE
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include> $<INSTALL_INTERFACE:include>)
target_compile_features(quenby_isapi_sdk INTERFACE c_std_99)
set_target_properties(quenby_isapi_sdk PROPERTIES EXPORT_NAME ISAPI)
add_library(Quenby::ISAPI ALIAS quenby_isapi_sdk)

include(${CMAKE_CURRENT_LIST_DIR}/QuenbyISAPIModule.cmake)

install(FILES ${PROJECT_SOURCE_DIR}/include/quenby/isapi.h DESTINATION include/quenby)
install(TARGETS quenby_isapi_sdk EXPORT QuenbyISAPITargets)
install(EXPORT QuenbyISAPITargets NAMESPACE Quenby:: DESTINATION ${QUENBY_SDK_CMAKE_DIR})

set(sdk_dir ${PROJECT_BINARY_DIR}/sdk)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/QuenbyISAPIConfig.cmake.in
  ${sdk_dir}/QuenbyISAPIConfig.cmake INSTALL_DESTINATION ${QUENBY_SDK_CMAKE_DIR})
# The declarations are the published interface and do not change within a major version.
write_basic_package_version_file(${sdk_dir}/QuenbyISAPIConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${sdk_dir}/QuenbyISAPIConfig.cmake ${sdk_dir}/QuenbyISAPIConfigVersion.cmake
  ${CMAKE_CURRENT_LIST_DIR}/QuenbyISAPIModule.cmake DESTINATION ${QUENBY_SDK_CMAKE_DIR})

configure_file(${CMAKE_CURRENT_LIST_DIR}/quenby-isapi.pc.in ${sdk_dir}/quenby-isapi.pc @ONLY)
install(FILES ${sdk_dir}/quenby-isapi.pc DESTINATION ${QUENBY_SDK_PKGCONFIG_DIR})
