# Serial driver read-back and device-node checks, against socat pty pairs.
vn_add_test(platform_serial SOURCES ${CMAKE_CURRENT_LIST_DIR}/SerialPlatformTest.cpp
            LIBS vn_platform vn_testsupport Qt6::SerialPort LABELS platform)
