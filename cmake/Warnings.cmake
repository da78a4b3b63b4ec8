# Project-wide compiler settings: warnings, optional -Werror and sanitizers.
# Designated initializers leave fields out on purpose; GCC 12 would warn about each.
add_compile_options(-Wall -Wextra -Wno-missing-field-initializers)
if(MINTORA_WERROR)
  add_compile_options(-Werror)
endif()
if(MINTORA_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# mintora_add_gtest(NAME SOURCES... LIBS ...): one GoogleTest executable registered with CTest.
# Test cases are discovered when the tests run, so the build never executes test binaries.
# Every such program fails a test that leaves table files in the working directory.
function(mintora_add_gtest name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES} ${PROJECT_SOURCE_DIR}/tests/workdirguard.cpp)
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES TIMEOUT 600)
endfunction()
