# clang-tidy with the checks of .clang-tidy on every source of the given targets, as they compile;
# a finding fails the build. Needs clang-tidy 16 (scripts/install-deps clang-tidy-16): version 14
# cannot parse libstdc++ 12's <expected>.
include_guard(GLOBAL)

function(ble_clang_tidy)
  find_program(BLE_CLANG_TIDY_PROGRAM clang-tidy-16 REQUIRED)
  # It reads the compiler's own commands. clang 16 calls C++23 c++2b, and libstdc++ 12 offers
  # std::expected only when the compiler announces C++20 concepts in full, which clang 16
  # implements but does not announce (as in fuzz/instrumentation.cmake).
  set(command ${BLE_CLANG_TIDY_PROGRAM} --quiet
      --extra-arg=-std=c++2b --extra-arg=-U__cpp_concepts --extra-arg=-D__cpp_concepts=202002L)
  set_target_properties(${ARGN} PROPERTIES CXX_CLANG_TIDY "${command}")
endfunction()
