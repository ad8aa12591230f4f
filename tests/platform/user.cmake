vn_add_test(platform_user_name SOURCES ${CMAKE_CURRENT_LIST_DIR}/UserNameTest.cpp LIBS vn_platform LABELS platform)
