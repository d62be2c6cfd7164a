# Shared settings and helpers of the three builds.

if(WIN32)
  # The deliverables are dropped into folders that hold nothing else: link the
  # runtime in, and keep stdcall exports undecorated.
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
  add_compile_options(-Wall -Wextra -Wno-cast-function-type)
  add_link_options(-static -static-libgcc -static-libstdc++)
else()
  add_compile_options(-Wall -Wextra)
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
  target_link_libraries(${name} PRIVATE ${T_LIBS} gtest gtest_main)
  target_compile_definitions(${name} PRIVATE ${T_DEFINES})
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
