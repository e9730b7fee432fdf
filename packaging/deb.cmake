# The Debian package: `cpack` (or `cmake --build <dir> --target package`) in the build
# directory writes ble-ranged_<version>_<arch>.deb there.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ble-ranged)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Bluetooth LE transmit range service for hci0")
set(CPACK_PACKAGE_DESCRIPTION
  "ble-ranged publishes the Bluetooth LE transmit range of controller hci0 on the
D-Bus system bus as the property Range of /com/orbo/RIDEviva, keeps it in
/etc/wireless/bluetooth.conf and applies it through hcitool-bridge, a separate
service that alone holds the raw HCI right. ble-rangectl shows, sets and
watches the range from the command line.")
set(CPACK_PACKAGE_CONTACT "${BLE_DEB_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The C++23 library parts come with GCC 12's runtime, the oldest that Debian 12 ships.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libc6 (>= 2.36), libstdc++6 (>= 12), libgcc-s1, libdbus-1-3, libglib2.0-0, default-dbus-system-bus | dbus-system-bus")
# The bridge needs no hcitool of its own; bluez brings one for --hcitool, and a device may
# bring its own build of it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "bluez")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_BINARY_DIR}/debian/preinst
  ${CMAKE_CURRENT_LIST_DIR}/debian/postinst
  ${CMAKE_CURRENT_LIST_DIR}/debian/prerm
  ${CMAKE_CURRENT_LIST_DIR}/debian/postrm)
# The dynamic linker's cache learns of our libcfgkit.so when it is installed or removed.
if(NOT BLE_SYSTEM_CFGKIT)
  list(APPEND CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The device gets the programs without their debugging sections.
set(CPACK_STRIP_FILES ON)

if(CMAKE_CROSSCOMPILING)
  # dpkg would name the build machine's architecture.
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
  elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|amd64)$")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
  else()
    message(FATAL_ERROR "no Debian architecture known for ${CMAKE_SYSTEM_PROCESSOR}")
  endif()
endif()

include(CPack)
