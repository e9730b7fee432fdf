# Renders the bus policy files for one set of accounts. The installed files use the
# deployment's accounts; the demo and the policy tests render them for their own.
#
# As a module:  include(render-policy.cmake)
#               ble_render_policy(<out_dir> <service_user> <bridge_user> <admin_group>)
# As a script:  cmake -DOUT_DIR=<dir> -DSERVICE_USER=<user> -DBRIDGE_USER=<user>
#                     -DADMIN_GROUP=<group> -P render-policy.cmake

set(BLE_POLICY_TEMPLATES
  ${CMAKE_CURRENT_LIST_DIR}/dbus/com.orbo.RIDEviva.conf.in
  ${CMAKE_CURRENT_LIST_DIR}/dbus/com.orbo.ZozovoZorOrevov.conf.in)

function(ble_render_policy out_dir service_user bridge_user admin_group)
  foreach(account IN ITEMS "${service_user}" "${bridge_user}" "${admin_group}")
    # The names land in XML attributes unescaped; refuse anything that could break out.
    if(NOT account MATCHES "^[A-Za-z0-9_.][A-Za-z0-9_.-]*$")
      message(FATAL_ERROR "not a plain account name: '${account}'")
    endif()
  endforeach()
  set(BLE_SERVICE_USER "${service_user}")
  set(BLE_BRIDGE_USER "${bridge_user}")
  set(BLE_ADMIN_GROUP "${admin_group}")
  foreach(template IN LISTS BLE_POLICY_TEMPLATES)
    get_filename_component(name "${template}" NAME_WLE)
    configure_file("${template}" "${out_dir}/${name}" @ONLY)
  endforeach()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  foreach(var OUT_DIR SERVICE_USER BRIDGE_USER ADMIN_GROUP)
    if(NOT DEFINED ${var})
      message(FATAL_ERROR "missing -D${var}=...")
    endif()
  endforeach()
  ble_render_policy("${OUT_DIR}" "${SERVICE_USER}" "${BRIDGE_USER}" "${ADMIN_GROUP}")
endif()
