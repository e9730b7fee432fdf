/* Reads, sets and watches the Bluetooth LE range of ble-ranged, with sd-bus.
 *
 *   range_client get         print the level
 *   range_client set LEVEL   set it (as root or a member of the administrators' group); LEVEL is a
 *                            whole decimal number, anything else is refused before any call
 *   range_client watch       print the level, then each new one, until SIGINT or SIGTERM
 *
 * Debian: apt install libsystemd-dev, then
 *   cc -o range_client range_client.c $(pkg-config --cflags --libs libsystemd)
 * sd-bus takes the system bus from DBUS_SYSTEM_BUS_ADDRESS when set.
 */
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#define NAME "com.orbo.RIDEviva"
#define PATH "/com/orbo/RIDEviva"
#define INTERFACE "com.orbo.Configuration.Legacy"
#define PROPERTIES "org.freedesktop.DBus.Properties"

/* LEVEL as a whole decimal number, with at most one sign, that fits the property's INT32; the
 * service itself refuses levels outside 0 to 30. atoi would take "abc" for 0, "12abc" for 12 and
 * wrap 4294967297 round to 1, and set those. */
static int read_level(const char* text, int32_t* level) {
  const char* digit = text + (text[0] == '+' || text[0] == '-');
  int64_t value = 0;
  if (*digit == '\0') return -1;
  for (; *digit != '\0'; ++digit) {
    if (*digit < '0' || *digit > '9') return -1;
    value = value * 10 + (*digit - '0');
    if (value > (int64_t)INT32_MAX + 1) return -1;
  }
  if (text[0] == '-') value = -value;
  if (value > INT32_MAX) return -1;
  *level = (int32_t)value;
  return 0;
}

static int print_level(sd_bus* bus, sd_bus_error* error) {
  int32_t level;
  int r = sd_bus_get_property_trivial(bus, NAME, PATH, INTERFACE, "Range", error, 'i', &level);
  if (r >= 0) {
    printf("%d\n", level);
    fflush(stdout);
  }
  return r;
}

/* PropertiesChanged(s interface, a{sv} changed, as invalidated): print Range if it is there. */
static int on_changed(sd_bus_message* message, void* userdata, sd_bus_error* error) {
  const char *interface, *property;
  int32_t level;
  (void)userdata;
  (void)error;
  if (sd_bus_message_read(message, "s", &interface) < 0 || strcmp(interface, INTERFACE) != 0) return 0;
  if (sd_bus_message_enter_container(message, 'a', "{sv}") < 0) return 0;
  while (sd_bus_message_enter_container(message, 'e', "sv") > 0) {
    if (sd_bus_message_read(message, "s", &property) < 0) return 0;
    if (strcmp(property, "Range") == 0) {
      if (sd_bus_message_read(message, "v", "i", &level) >= 0) {
        printf("%d\n", level);
        fflush(stdout);
      }
      return 0;
    }
    if (sd_bus_message_skip(message, "v") < 0 || sd_bus_message_exit_container(message) < 0) return 0;
  }
  return 0;
}

static int watch(sd_bus* bus, sd_bus_error* error) {
  sd_event* event = NULL;
  sigset_t stops;
  int r;
  /* Blocked, so that they wait for the event loop, whose default handler ends it. */
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  sigprocmask(SIG_BLOCK, &stops, NULL);
  r = sd_event_default(&event);
  if (r >= 0) r = sd_event_add_signal(event, NULL, SIGINT, NULL, NULL);
  if (r >= 0) r = sd_event_add_signal(event, NULL, SIGTERM, NULL, NULL);
  if (r >= 0) r = sd_bus_attach_event(bus, event, SD_EVENT_PRIORITY_NORMAL);
  if (r >= 0) r = sd_bus_match_signal(bus, NULL, NAME, PATH, PROPERTIES, "PropertiesChanged", on_changed, NULL);
  if (r >= 0) r = print_level(bus, error); /* only now: a change in between is not missed */
  if (r >= 0) r = sd_event_loop(event);
  sd_bus_detach_event(bus);
  sd_event_unref(event);
  return r;
}

enum command { GET, SET, WATCH };

int main(int argc, char** argv) {
  sd_bus* bus = NULL;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  enum command command;
  int32_t level = 0;
  int r;
  /* The command line is checked whole before the bus is touched. */
  if (argc == 2 && strcmp(argv[1], "get") == 0) {
    command = GET;
  } else if (argc == 3 && strcmp(argv[1], "set") == 0) {
    if (read_level(argv[2], &level) < 0) {
      fprintf(stderr, "Error: LEVEL must be a whole decimal number, such as 25, not \"%s\"\n", argv[2]);
      return 2;
    }
    command = SET;
  } else if (argc == 2 && strcmp(argv[1], "watch") == 0) {
    command = WATCH;
  } else {
    fprintf(stderr, "Usage: %s get | set LEVEL | watch\n", argv[0]);
    return 2;
  }
  r = sd_bus_open_system(&bus);
  if (r >= 0 && command == GET) r = print_level(bus, &error);
  if (r >= 0 && command == SET) r = sd_bus_set_property(bus, NAME, PATH, INTERFACE, "Range", &error, "i", level);
  if (r >= 0 && command == WATCH) r = watch(bus, &error);
  if (r < 0) {
    /* The D-Bus error name, say org.freedesktop.DBus.Error.InvalidArgs for a level out of range. */
    if (sd_bus_error_is_set(&error)) {
      fprintf(stderr, "Error: %s: %s\n", error.name, error.message);
    } else {
      fprintf(stderr, "Error: %s\n", strerror(-r));
    }
  }
  sd_bus_error_free(&error);
  sd_bus_flush_close_unref(bus);
  return r < 0 ? 1 : 0;
}
