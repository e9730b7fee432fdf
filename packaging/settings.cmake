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

# The Debian package that brings the platform's libcfgkit.so on the device: the device package
# (BLE_SYSTEM_CFGKIT=ON) depends on it, with a version constraint if wanted ("libcfgkit (>= 2)").
set(BLE_CFGKIT_PACKAGE "libcfgkit" CACHE STRING
  "Debian package of the platform's libcfgkit.so, as the device package's Depends names it")
# Our stand-in libcfgkit's packages, runtime and development: names of their own, so that they
# can never replace a platform package. The runtime provides the platform package's name, so a
# system without the platform's library runs the device package on the stand-in.
set(BLE_CFGKIT_STANDIN_PACKAGE "libcfgkit-standin" CACHE INTERNAL "Stand-in libcfgkit's runtime package")
set(BLE_CFGKIT_STANDIN_DEV_PACKAGE "libcfgkit-standin-dev" CACHE INTERNAL "Stand-in libcfgkit's development package")
# Their install components (platform/cfgkit), in the same order.
set(BLE_STANDIN_COMPONENTS cfgkit cfgkit-dev CACHE INTERNAL "Stand-in libcfgkit's install components")
set(BLE_STANDIN_PACKAGES ${BLE_CFGKIT_STANDIN_PACKAGE} ${BLE_CFGKIT_STANDIN_DEV_PACKAGE} CACHE INTERNAL
  "Stand-in libcfgkit's packages, one per component")

# The Maintainer of the Debian package, and the contact in its copyright file and changelog.
set(BLE_DEB_MAINTAINER "ble-ranged maintainers <ble-ranged@orbo.com>" CACHE STRING
  "Maintainer of the Debian package, as \"Name <address>\"")
if(NOT BLE_DEB_MAINTAINER MATCHES "^[^<>\n]*[^ <>\n] <[^<>@ \n]+@[^<>@ \n]+\\.[^<>@ \n]+>$")
  message(FATAL_ERROR "BLE_DEB_MAINTAINER is not \"Name <address>\": '${BLE_DEB_MAINTAINER}'")
endif()
