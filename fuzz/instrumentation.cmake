# Coverage instrumentation for every target of a fuzzing build, so libFuzzer sees the edges of
# the code under test and not only those of the fuzz targets. Included before the layers.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "BLE_FUZZ needs clang (libFuzzer); scripts/fuzz configures clang++-16")
endif()
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                    -fno-sanitize-recover=undefined)
add_link_options(-fsanitize=address,undefined)
# libstdc++ 12 offers std::expected only when the compiler announces C++20 concepts in full.
# clang 16 implements them (conditionally trivial special members included) but still announces
# the older value, so announce it ourselves.
add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-D__cpp_concepts=202002L> -Wno-macro-redefined)
