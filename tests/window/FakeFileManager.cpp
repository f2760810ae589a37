// A stand-in for a file manager on a session bus: owns org.freedesktop.FileManager1 and
// appends the URIs of each ShowItems call, one a line, to the file named by its argument.
// Prints "ready" once it owns the name.
//   fake-file-manager LOG
#include <cstdio>
#include <gio/gio.h>

namespace {

const char kInterface[] =
    "<node><interface name='org.freedesktop.FileManager1'>"
    "<method name='ShowItems'><arg type='as' name='uris' direction='in'/>"
    "<arg type='s' name='startup_id' direction='in'/></method>"
    "</interface></node>";

const char* log_path = nullptr;

void on_call(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
             GVariant* parameters, GDBusMethodInvocation* invocation, gpointer) {
  GVariantIter* uris;
  const gchar* startup;
  g_variant_get(parameters, "(as&s)", &uris, &startup);
  FILE* log = fopen(log_path, "a");
  for (const gchar* uri; g_variant_iter_next(uris, "&s", &uri);) fprintf(log, "%s %s\n", method, uri);
  fclose(log);
  g_variant_iter_free(uris);
  g_dbus_method_invocation_return_value(invocation, nullptr);
}

void on_name(GDBusConnection*, const gchar*, gpointer) {
  puts("ready");
  fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  log_path = argv[1];
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (bus == nullptr) return 1;
  // When the bus goes, end quietly rather than by the signal GIO would raise.
  g_dbus_connection_set_exit_on_close(bus, FALSE);
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  g_signal_connect_swapped(bus, "closed", G_CALLBACK(g_main_loop_quit), loop);
  GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kInterface, nullptr);
  static const GDBusInterfaceVTable vtable = {on_call, nullptr, nullptr, {}};
  g_dbus_connection_register_object(bus, "/org/freedesktop/FileManager1", node->interfaces[0], &vtable,
                                    nullptr, nullptr, nullptr);
  g_bus_own_name_on_connection(bus, "org.freedesktop.FileManager1", G_BUS_NAME_OWNER_FLAGS_NONE, on_name,
                               nullptr, nullptr, nullptr);
  g_main_loop_run(loop);
  return 0;
}
