# Files written whole or not at all, against real failures of the file system.
vn_add_test(platform_whole_file SOURCES ${CMAKE_CURRENT_LIST_DIR}/WholeFileTest.cpp
            LIBS vn_platform vn_testsupport LABELS platform)
