# SSH transport: the client's pseudo terminal and the user's secret store.
find_package(PkgConfig REQUIRED)
pkg_check_modules(VN_SODIUM REQUIRED IMPORTED_TARGET libsodium)
target_sources(vn_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/PtyProcess.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PtyProcess.h
  ${CMAKE_CURRENT_LIST_DIR}/UserSecretStore.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UserSecretStore.h)
target_link_libraries(vn_platform PRIVATE PkgConfig::VN_SODIUM)
