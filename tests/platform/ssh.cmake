# Pseudo-terminal processes and the user-only secret store.
vn_add_test(platform_pty_process
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ssh/tst_PtyProcess.cpp
  LIBS vn_platform
  LABELS platform ssh)
vn_add_test(platform_user_secret_store
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ssh/tst_UserSecretStore.cpp
  LIBS vn_platform
  LABELS platform ssh)
