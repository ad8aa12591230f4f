# Serial driver read-back and device-node checks.
target_sources(vn_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/SerialReadBack.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SerialReadBack.h
  ${CMAKE_CURRENT_LIST_DIR}/SerialDevice.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SerialDevice.h)
