# Notice of serial devices coming and going, on folders the test makes.
vn_add_test(platform_device_watch SOURCES ${CMAKE_CURRENT_LIST_DIR}/DeviceWatchTest.cpp
            LIBS vn_platform LABELS platform)
