# Files written whole or not at all.
target_sources(vn_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/WholeFile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WholeFile.h)
