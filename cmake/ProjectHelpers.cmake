# Shared settings and helpers of the three builds.

# Every build fails on a warning. A GetProcAddress result is cast to the
# function's own type where it is looked up (-Wcast-function-type is turned
# off only there).
option(MARVOLT_WERROR "Fail the build on a compiler warning" ON)
set(MARVOLT_WARNINGS -Wall -Wextra -Wshadow -Wconversion)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # GCC 12 takes libstdc++'s own string concatenation for an overlapping copy
  # (GCC bug 105651).
  list(APPEND MARVOLT_WARNINGS -Wno-restrict)
endif()
if(MARVOLT_WERROR)
  list(APPEND MARVOLT_WARNINGS -Werror)
endif()

if(WIN32)
  # The deliverables are dropped into folders that hold nothing else: link the
  # runtime in, and keep stdcall exports undecorated.
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
  add_compile_options(${MARVOLT_WARNINGS})
  add_link_options(-static -static-libgcc -static-libstdc++)
  # Bounds and precondition checks of the standard library: in every test
  # program, and everywhere in a build that ships nothing (the x86_64 one).
  option(MARVOLT_GLIBCXX_ASSERTIONS "Check the standard library's preconditions in all code" OFF)
  if(MARVOLT_GLIBCXX_ASSERTIONS)
    add_compile_definitions(_GLIBCXX_ASSERTIONS)
  endif()
else()
  add_compile_options(${MARVOLT_WARNINGS})
  set(MARVOLT_SANITIZERS -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_compile_options(${MARVOLT_SANITIZERS})
  add_link_options(${MARVOLT_SANITIZERS})
endif()

# marvolt_add_test(name SOURCES ... LIBS ...): one GoogleTest program whose
# cases ctest lists one by one.
function(marvolt_add_test name)
  if(NOT MARVOLT_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;DEFINES;PROPERTIES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE ${T_DEFINES})
  if(WIN32)
    target_compile_definitions(${name} PRIVATE _GLIBCXX_ASSERTIONS)
  endif()
  include(GoogleTest)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES TIMEOUT 90 ${T_PROPERTIES})
endfunction()

# libFuzzer targets exist only in the host build, which compiles with clang.
function(marvolt_add_fuzzer name)
  if(WIN32 OR NOT MARVOLT_BUILD_TESTS OR NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    return()
  endif()
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
endfunction()
