# Giving freed heap memory back to the system.
target_sources(vn_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/MemoryTrim.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MemoryTrim.h)
