# vn_add_test(<name> SOURCES <files...> LIBS <targets...> LABELS <labels...> [TIMEOUT <s>])
# Builds one QtTest program and registers it with CTest. Labels name the area
# ("core", "script", "mcp", ...) so `ctest -L core` runs one area.
set(VN_SANITIZER_ENV
  "ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1:detect_stack_use_after_return=0"
  "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"
  "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0")

function(vn_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
  add_executable(tst_${name} ${T_SOURCES})
  target_link_libraries(tst_${name} PRIVATE Qt6::Test ${T_LIBS})
  target_compile_definitions(tst_${name} PRIVATE
    VN_SOURCE_DIR="${CMAKE_SOURCE_DIR}" VN_BINARY_DIR="${CMAKE_BINARY_DIR}")
  add_test(NAME ${name} COMMAND tst_${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set_tests_properties(${name} PROPERTIES
    LABELS "${T_LABELS}"
    TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;${VN_SANITIZER_ENV};${T_ENV}")
endfunction()
