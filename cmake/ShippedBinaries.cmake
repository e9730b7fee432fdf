# How the optimised builds, the ones that ship, make ble-ranged, hcitool-bridge and our libcfgkit:
# hardened, compiled for size, and with a hidden copy of the C++ runtime in the service.
# Sanitized and fuzzing builds are never shipped and keep their own instrumentation and flags.
include_guard(GLOBAL)

# Hardened the way the distribution builds its own packages: the dynamic linker binds every
# symbol at start and then makes the relocated data read-only (bind-now, RELRO), and the C
# library checks the buffer sizes that the compiler can see (fortify level 2, which needs
# optimisation). A fortify level given in the flags, as dpkg-buildflags does, is kept.
# Directory-wide, so call it before the directories whose targets it covers.
function(ble_harden_optimised_builds)
  if(BLE_SANITIZE OR BLE_FUZZ)
    return()
  endif()
  set(hardened_config $<CONFIG:Release,RelWithDebInfo,MinSizeRel>)
  if(NOT "${CMAKE_C_FLAGS} ${CMAKE_CXX_FLAGS}" MATCHES "_FORTIFY_SOURCE")
    # Some compilers define a level of their own; ours replaces it.
    add_compile_options("$<${hardened_config}:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
  endif()
  add_link_options("$<${hardened_config}:LINKER:-z,relro,-z,now>")
endfunction()

# The shipped programs go on small devices: in optimised builds they and the libraries they are
# made of are compiled for size, each function and object in a section of its own, so that the
# link drops whatever nothing reaches. Tests link the same libraries and so test this code; their
# own code keeps the usual flags.
#   ble_make_shipped_binaries_small(PROGRAMS <program>... LIBRARIES <library>...
#                                   STATIC_RUNTIME <program> RUNTIME_LIBRARY <shared library>)
function(ble_make_shipped_binaries_small)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "STATIC_RUNTIME;RUNTIME_LIBRARY" "PROGRAMS;LIBRARIES")
  if(BLE_SANITIZE OR BLE_FUZZ)
    return()
  endif()
  set(small_config $<CONFIG:Release,RelWithDebInfo>)
  foreach(target ${arg_LIBRARIES} ${arg_PROGRAMS})
    target_compile_options(${target} PRIVATE "$<${small_config}:-Os;-ffunction-sections;-fdata-sections>")
  endforeach()
  foreach(program ${arg_PROGRAMS})
    target_link_options(${program} PRIVATE $<${small_config}:LINKER:--gc-sections>)
  endforeach()

  # The STATIC_RUNTIME program carries a hidden copy of the C++ runtime, so that the process maps
  # neither libstdc++.so nor libgcc_s.so (about 0.9 MiB less resident). That pays only when no
  # library it loads brings the shared runtime along, so our RUNTIME_LIBRARY gets a hidden copy of
  # its own, and the device's build of it (an imported target) is asked first; two runtimes in one
  # process would cost more, not less. Hidden copies share nothing, which is safe because only C
  # calls cross between them.
  set(static_runtime "LINKER:--exclude-libs,ALL;-static-libstdc++;-static-libgcc")
  get_target_property(library_imported ${arg_RUNTIME_LIBRARY} IMPORTED)
  set(library_loads_runtime FALSE)
  if(library_imported)
    get_target_property(library_file ${arg_RUNTIME_LIBRARY} IMPORTED_LOCATION)
    set(library_dynamic "")
    if(CMAKE_READELF)
      execute_process(COMMAND ${CMAKE_READELF} -d ${library_file} OUTPUT_VARIABLE library_dynamic ERROR_QUIET)
    endif()
    if(NOT library_dynamic MATCHES "NEEDED" OR library_dynamic MATCHES "libstdc\\+\\+|libgcc_s")
      set(library_loads_runtime TRUE)
    endif()
  else()
    target_link_options(${arg_RUNTIME_LIBRARY} PRIVATE "$<${small_config}:${static_runtime}>")
  endif()
  if(NOT library_loads_runtime)
    target_link_options(${arg_STATIC_RUNTIME} PRIVATE "$<${small_config}:${static_runtime}>")
  endif()
endfunction()
