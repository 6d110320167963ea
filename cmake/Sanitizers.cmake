set(NUV_SANITIZE_THREAD OFF CACHE BOOL "Build with ThreadSanitizer")
if(NUV_SANITIZE AND NUV_SANITIZE_THREAD)
  message(FATAL_ERROR "NUV_SANITIZE and NUV_SANITIZE_THREAD exclude each other")
endif()
# The undefined-behaviour checks of the sanitizer and fuzz builds alike: "undefined" leaves out
# float-cast-overflow (a number converted to an integer type that cannot hold it), which is named too.
set(NUV_UBSAN_CHECKS undefined,float-cast-overflow)
if(NUV_SANITIZE)
  add_compile_options(-fsanitize=address,${NUV_UBSAN_CHECKS} -fno-sanitize-recover=${NUV_UBSAN_CHECKS} -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=address,${NUV_UBSAN_CHECKS})
endif()
if(NUV_SANITIZE_THREAD)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=thread)
endif()

# Fuzz builds instrument every library for coverage and sanitizers, not only the harnesses, so the
# fuzzer is guided by (and checks) all the code a harness reaches. UBSan stops on its first report.
if(NUV_BUILD_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,${NUV_UBSAN_CHECKS} -fno-sanitize-recover=${NUV_UBSAN_CHECKS}
                      -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=address,${NUV_UBSAN_CHECKS})
endif()

# Helper for unit-test executables: one binary per folder, registered with CTest. THREADS marks a binary
# whose tests start threads: the ThreadSanitizer run picks those by their "threads" label. Each case is
# a test of its own, and the whole binary is one more ("<binary>.whole"): cases that pass alone can still
# break each other through what one leaves behind for the next in the same process.
# On Windows the programs carry the type library (the object model is built into them) and start COM
# in their main; they run under wine from scripts/test.d/windows-wine.sh rather than through CTest.
function(nuv_add_gtest name)
  cmake_parse_arguments(ARG "THREADS" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  target_compile_definitions(${name} PRIVATE NUV_EXAMPLES_DIR="${PROJECT_SOURCE_DIR}/examples")
  if(WIN32)
    target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/windows_main.cpp)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock)
    nuv_embed_typelib(${name})
    return()
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  set(properties TIMEOUT 300)
  if(ARG_THREADS)
    list(APPEND properties LABELS threads)
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${properties})
  add_test(NAME ${name}.whole COMMAND ${name})
  set_tests_properties(${name}.whole PROPERTIES ${properties})
endfunction()
