/* Reads the Bluetooth LE range of ble-ranged through a proxy that gdbus-codegen writes from the
 * installed interface description.
 *
 * Debian: apt install libglib2.0-dev libglib2.0-dev-bin, then, in any directory (the proxy is
 * written there; name read_range.c by its path):
 *   gdbus-codegen --interface-prefix com.orbo. --c-namespace Orbo --generate-c-code range-proxy \
 *       /usr/share/dbus-1/interfaces/com.orbo.Configuration.Legacy.xml
 *   cc -I. -o read_range read_range.c range-proxy.c $(pkg-config --cflags --libs gio-unix-2.0)
 * Before installing, the source tree holds the same description:
 * packaging/dbus/com.orbo.Configuration.Legacy.xml.
 * GDBus takes the system bus from DBUS_SYSTEM_BUS_ADDRESS when set.
 */
#include <stdio.h>

#include "range-proxy.h"

int main(int argc, char** argv) {
  GError* error = NULL;
  if (argc != 1) {
    fprintf(stderr, "Usage: %s\nIt takes no arguments: it prints the level.\n", argv[0]);
    return 2;
  }
  /* Reads every property once, when made; afterwards it follows the change signals. */
  OrboConfigurationLegacy* proxy = orbo_configuration_legacy_proxy_new_for_bus_sync(
      G_BUS_TYPE_SYSTEM, G_DBUS_PROXY_FLAGS_NONE, "com.orbo.RIDEviva", "/com/orbo/RIDEviva", NULL, &error);
  if (proxy == NULL) {
    fprintf(stderr, "Error: %s\n", error->message);
    g_error_free(error);
    return 1;
  }
  /* Without an owner there was nobody to read the properties from: the getter would say 0. */
  gchar* owner = g_dbus_proxy_get_name_owner(G_DBUS_PROXY(proxy));
  if (owner == NULL) {
    fprintf(stderr, "Error: nobody owns com.orbo.RIDEviva: is ble-ranged running?\n");
    g_object_unref(proxy);
    return 1;
  }
  g_free(owner);
  /* The getter reads the proxy's cache, and says 0 when the properties could not be read (the
   * service did not answer in time, say): the cached value itself tells whether there is one. */
  GVariant* range = g_dbus_proxy_get_cached_property(G_DBUS_PROXY(proxy), "Range");
  if (range == NULL || !g_variant_is_of_type(range, G_VARIANT_TYPE_INT32)) {
    fprintf(stderr, "Error: com.orbo.RIDEviva did not tell its Range: is ble-ranged answering?\n");
    if (range != NULL) g_variant_unref(range);
    g_object_unref(proxy);
    return 1;
  }
  printf("%d\n", g_variant_get_int32(range));
  g_variant_unref(range);
  g_object_unref(proxy);
  return 0;
}
