# The Debian packages: `cpack` (or `cmake --build <dir> --target package`) in the build
# directory writes <package>_<version>_<arch>.deb there for each install component:
#   ble-ranged              the programs, units, bus policy, accounts, pages (component ble-ranged)
#   libcfgkit-standin       the stand-in libcfgkit.so (component cfgkit)      } not in a device
#   libcfgkit-standin-dev   its header cfgkit.h (component cfgkit-dev)        } build
# A device build (BLE_SYSTEM_CFGKIT=ON) writes ble-ranged alone, depending on the platform's
# package (BLE_CFGKIT_PACKAGE); every other build's ble-ranged depends on the stand-in.

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_PACKAGE_NAME ble-ranged)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${BLE_DEB_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
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

# The service's package.
set(CPACK_DEBIAN_BLE-RANGED_PACKAGE_NAME ble-ranged)
set(CPACK_DEBIAN_BLE-RANGED_PACKAGE_SECTION net)
set(CPACK_DEBIAN_BLE-RANGED_DESCRIPTION "Bluetooth LE transmit range service for hci0
ble-ranged publishes the Bluetooth LE transmit range of controller hci0 on the
D-Bus system bus as the property Range of /com/orbo/RIDEviva, keeps it in
/etc/wireless/bluetooth.conf and applies it through hcitool-bridge, a separate
service that alone holds the raw HCI right. ble-rangectl shows, sets and
watches the range from the command line.")
if(BLE_SYSTEM_CFGKIT)
  set(cfgkit_dependency "${BLE_CFGKIT_PACKAGE}")
else()
  set(cfgkit_dependency "${BLE_CFGKIT_STANDIN_PACKAGE} (= ${PROJECT_VERSION})")
endif()

# The libraries the programs load are depended on as dpkg-shlibdeps computes them (each package
# with the version its symbols need), wherever dpkg knows the target's packages: this machine's
# own builds, and cross builds on a machine with the target architecture added to dpkg. A cross
# build against a bare sysroot (an SDK's, with no dpkg database) names them by hand instead, the
# versions being Debian 12's. libcfgkit.so is no package's that dpkg-shlibdeps knows (ours is
# built here, the platform's comes from its SDK): it is named explicitly either way.
set(shlibdeps ON)
if(CMAKE_CROSSCOMPILING)
  execute_process(COMMAND dpkg-query -W -f=\${Status} libc6:${CPACK_DEBIAN_PACKAGE_ARCHITECTURE}
    OUTPUT_VARIABLE target_libc ERROR_QUIET)
  if(NOT target_libc MATCHES "installed")
    set(shlibdeps OFF)
  endif()
endif()
set(CPACK_DEBIAN_BLE-RANGED_PACKAGE_SHLIBDEPS ${shlibdeps})
if(NOT BLE_SYSTEM_CFGKIT)
  # Where the stand-in is built, for dpkg-shlibdeps to find what the programs load.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/platform/cfgkit)
endif()
if(shlibdeps)
  set(library_dependencies "")
else()
  # The C++23 library parts come with GCC 12's runtime, the oldest that Debian 12 ships.
  set(library_dependencies "libc6 (>= 2.36), libstdc++6 (>= 12), libgcc-s1, libdbus-1-3, libglib2.0-0, ")
endif()
set(CPACK_DEBIAN_BLE-RANGED_PACKAGE_DEPENDS
  "${library_dependencies}${cfgkit_dependency}, default-dbus-system-bus | dbus-system-bus")
# The bridge needs no hcitool of its own; bluez brings one for --hcitool, and a device may
# bring its own build of it.
set(CPACK_DEBIAN_BLE-RANGED_PACKAGE_RECOMMENDS "bluez")
set(CPACK_DEBIAN_BLE-RANGED_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_BINARY_DIR}/debian/preinst
  ${CMAKE_CURRENT_BINARY_DIR}/debian/postinst
  ${CMAKE_CURRENT_LIST_DIR}/debian/prerm
  ${CMAKE_CURRENT_LIST_DIR}/debian/postrm)
set(CPACK_COMPONENTS_ALL ble-ranged)

if(NOT BLE_SYSTEM_CFGKIT)
  list(APPEND CPACK_COMPONENTS_ALL ${BLE_STANDIN_COMPONENTS})
  # The platform package's name without a version constraint: what the stand-in provides.
  string(REGEX REPLACE "[ (].*" "" platform_package "${BLE_CFGKIT_PACKAGE}")

  set(CPACK_DEBIAN_CFGKIT_PACKAGE_NAME ${BLE_CFGKIT_STANDIN_PACKAGE})
  set(CPACK_DEBIAN_CFGKIT_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_CFGKIT_DESCRIPTION "stand-in for the device platform's configuration file library
Replaces a configuration file whole and durably (a temporary file, its owner
and mode, fsync, rename, fsync of the directory), with the C interface of the
device platform's libcfgkit.so, for systems that do not have it: development
machines, tests and demonstrations. A device uses the platform's own library.")
  # By hand: with dpkg-shlibdeps, CPack would add maintainer scripts that call ldconfig, which the
  # trigger below already does.
  set(CPACK_DEBIAN_CFGKIT_PACKAGE_DEPENDS "libc6 (>= 2.36), libglib2.0-0")
  set(CPACK_DEBIAN_CFGKIT_PACKAGE_PROVIDES "${platform_package}")
  # The dynamic linker's cache learns of libcfgkit.so when it is installed or removed.
  set(CPACK_DEBIAN_CFGKIT_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)

  set(CPACK_DEBIAN_CFGKIT-DEV_PACKAGE_NAME ${BLE_CFGKIT_STANDIN_DEV_PACKAGE})
  set(CPACK_DEBIAN_CFGKIT-DEV_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_CFGKIT-DEV_DESCRIPTION "stand-in for the device platform's configuration file library (header)
The header cfgkit.h of the stand-in libcfgkit.so, with the device platform's
C interface, for building programs that use the library on systems without
the platform's own.")
  set(CPACK_DEBIAN_CFGKIT-DEV_PACKAGE_DEPENDS "${BLE_CFGKIT_STANDIN_PACKAGE} (= ${PROJECT_VERSION}), libglib2.0-dev")
endif()

include(CPack)
