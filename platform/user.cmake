# The name of the user running the program.
target_sources(vn_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/UserName.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UserName.h)
