# Optimised builds, the ones that ship, are hardened the way the distribution builds its own
# packages: the dynamic linker binds every symbol at start and then makes the relocated data
# read-only (bind-now, RELRO), and the C library checks the buffer sizes that the compiler can
# see (fortify level 2, which needs optimisation). A fortify level given in the flags, as
# dpkg-buildflags does, is kept. Sanitized and fuzzing builds are never shipped and keep their
# own instrumentation.
if(BLE_SANITIZE OR BLE_FUZZ)
  return()
endif()
set(ble_hardened_config $<CONFIG:Release,RelWithDebInfo,MinSizeRel>)
if(NOT "${CMAKE_C_FLAGS} ${CMAKE_CXX_FLAGS}" MATCHES "_FORTIFY_SOURCE")
  # Some compilers define a level of their own; ours replaces it.
  add_compile_options("$<${ble_hardened_config}:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
endif()
add_link_options("$<${ble_hardened_config}:LINKER:-z,relro,-z,now>")
