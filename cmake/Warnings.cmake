# Every target of the project builds warning-free. Warnings stop the build only where NUV_WERROR is on:
# the presets and CI turn it on; a consumer's own build (a Release build with another compiler release,
# whose new false positives are not ours to fix) gets the warnings without failing on them.
option(NUV_WERROR "Treat compiler warnings as errors" OFF)
add_compile_options(-Wall -Wextra -Wno-unused-parameter)
if(NUV_WERROR)
  add_compile_options(-Werror)
endif()
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  add_compile_options(-Wno-gnu-anonymous-struct -Wno-nested-anon-types)
endif()
