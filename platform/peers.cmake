# Which local account owns the other end of a loopback TCP connection.
target_sources(vn_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/LoopbackPeer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LoopbackPeer.h)
