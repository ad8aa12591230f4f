# Who owns the other end of a loopback TCP connection, with clients of this
# process and of another account (when run as root).
vn_add_test(platform_loopback_peer SOURCES ${CMAKE_CURRENT_LIST_DIR}/LoopbackPeerTest.cpp
            LIBS vn_platform vn_testsupport LABELS platform)
