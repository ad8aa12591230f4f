vn_add_test(platform_memory_trim SOURCES ${CMAKE_CURRENT_LIST_DIR}/MemoryTrimTest.cpp LIBS vn_platform
            LABELS platform)
