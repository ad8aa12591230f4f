# Notice of serial devices coming and going.
target_sources(vn_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/DeviceWatch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DeviceWatch.h)
