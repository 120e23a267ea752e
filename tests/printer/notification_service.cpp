// A desktop notification service of the tests' own, on whatever session bus
// DBUS_SESSION_BUS_ADDRESS names: it owns org.freedesktop.Notifications,
// writes one line per notification to the log file named by its argument
// ("<id>\t<summary>\t<body>"), and presses a button when standard input
// says "<id> <action key>", as a user would.  It ends when standard input
// closes.
#include <gio/gio.h>

#include <cstdio>
#include <string>

namespace {

constexpr char kName[] = "org.freedesktop.Notifications";
constexpr char kPath[] = "/org/freedesktop/Notifications";
constexpr char kInterface[] = "org.freedesktop.Notifications";
constexpr char kIntrospection[] =
    "<node><interface name='org.freedesktop.Notifications'>"
    "<method name='Notify'><arg type='s' direction='in'/><arg type='u' direction='in'/>"
    "<arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='as' direction='in'/><arg type='a{sv}' direction='in'/><arg type='i' direction='in'/>"
    "<arg type='u' direction='out'/></method>"
    "<method name='GetCapabilities'><arg type='as' direction='out'/></method>"
    "<signal name='ActionInvoked'><arg type='u'/><arg type='s'/></signal>"
    "</interface></node>";

struct Service {
  FILE* log = nullptr;
  guint32 lastId = 0;
  GDBusConnection* bus = nullptr;
  GMainLoop* loop = nullptr;
};

void Call(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method, GVariant* parameters,
          GDBusMethodInvocation* invocation, gpointer data) {
  auto& service = *static_cast<Service*>(data);
  if (g_strcmp0(method, "GetCapabilities") == 0) {
    const gchar* capabilities[] = {"actions", "body", nullptr};
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(^as)", capabilities));
    return;
  }
  const gchar *summary = nullptr, *body = nullptr;
  g_variant_get_child(parameters, 3, "&s", &summary);
  g_variant_get_child(parameters, 4, "&s", &body);
  const guint32 id = ++service.lastId;
  std::fprintf(service.log, "%u\t%s\t%s\n", id, summary, body);
  std::fflush(service.log);
  g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", id));
}

gboolean Command(GIOChannel* input, GIOCondition, gpointer data) {
  auto& service = *static_cast<Service*>(data);
  gchar* line = nullptr;
  if (g_io_channel_read_line(input, &line, nullptr, nullptr, nullptr) != G_IO_STATUS_NORMAL) {
    g_main_loop_quit(service.loop);
    return FALSE;
  }
  guint id = 0;
  char action[64] = {};
  if (std::sscanf(line, "%u %63s", &id, action) == 2) {
    g_dbus_connection_emit_signal(service.bus, nullptr, kPath, kInterface, "ActionInvoked",
                                  g_variant_new("(us)", id, action), nullptr);
    g_dbus_connection_flush_sync(service.bus, nullptr, nullptr);
  }
  g_free(line);
  return TRUE;
}

void Acquired(GDBusConnection*, const gchar*, gpointer) {
  std::printf("READY\n");
  std::fflush(stdout);
}

void Lost(GDBusConnection*, const gchar*, gpointer data) { g_main_loop_quit(static_cast<Service*>(data)->loop); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  Service service;
  service.log = std::fopen(argv[1], "a");
  if (service.log == nullptr) return 1;
  GError* error = nullptr;
  service.bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (service.bus == nullptr) return 1;
  GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
  const GDBusInterfaceVTable table = {Call, nullptr, nullptr, {}};
  g_dbus_connection_register_object(service.bus, kPath, node->interfaces[0], &table, &service, nullptr, nullptr);
  service.loop = g_main_loop_new(nullptr, FALSE);
  g_bus_own_name_on_connection(service.bus, kName, G_BUS_NAME_OWNER_FLAGS_NONE, Acquired, Lost, &service, nullptr);
  GIOChannel* input = g_io_channel_unix_new(0);
  g_io_add_watch(input, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP), Command, &service);
  g_main_loop_run(service.loop);
  return 0;
}
