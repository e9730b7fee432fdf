# Deployment choices, shared by the install rules and their tests.
include_guard(GLOBAL)

set(BLE_SERVICE_USER "ble-ranged" CACHE STRING "Account the range service runs as")
set(BLE_BRIDGE_USER "hcitool-bridge" CACHE STRING "Account the hcitool bridge runs as")
set(BLE_ADMIN_GROUP "ble-range-admin" CACHE STRING
  "Group whose members may set the range over the bus (besides root)")
set(BLE_SYSTEMD_UNITDIR "lib/systemd/system" CACHE STRING "systemd system units (relative to the prefix)")
set(BLE_SYSUSERSDIR "lib/sysusers.d" CACHE STRING "sysusers.d entries (relative to the prefix)")
set(BLE_TMPFILESDIR "lib/tmpfiles.d" CACHE STRING "tmpfiles.d entries (relative to the prefix)")
set(BLE_DBUS_POLICYDIR "${CMAKE_INSTALL_DATADIR}/dbus-1/system.d" CACHE STRING
  "system bus policy files (relative to the prefix)")
# The manual pages, one entry each, rendered from man/<page>.in (a global, as this file is read
# once for the whole project).
set(BLE_MAN_PAGES ble-ranged.8 hcitool-bridge.8 ble-rangectl.1 CACHE INTERNAL "Manual pages")

# The Maintainer of the Debian package, and the contact in its copyright file and changelog.
set(BLE_DEB_MAINTAINER "ble-ranged maintainers <ble-ranged@orbo.com>" CACHE STRING
  "Maintainer of the Debian package, as \"Name <address>\"")
if(NOT BLE_DEB_MAINTAINER MATCHES "^[^<>\n]*[^ <>\n] <[^<>@ \n]+@[^<>@ \n]+\\.[^<>@ \n]+>$")
  message(FATAL_ERROR "BLE_DEB_MAINTAINER is not \"Name <address>\": '${BLE_DEB_MAINTAINER}'")
endif()
