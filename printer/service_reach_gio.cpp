#include "printer/service_reach.h"

#include <gio/gio.h>

#include "printer/gobject_ref.h"

namespace inkseal::printer {
namespace {

constexpr guint16 kHttpsPort = 443;
constexpr guint16 kHttpPort = 80;

}  // namespace

bool ServiceReachable(const std::string& url, std::chrono::seconds limit) {
  if (url.empty()) return true;
  const guint16 port = g_str_has_prefix(url.c_str(), "http:") ? kHttpPort : kHttpsPort;
  GObjectRef<GSocketClient> client(g_socket_client_new());
  g_socket_client_set_timeout(client.get(), static_cast<guint>(limit.count()));
  // GIO's proxy modules read the desktop's settings, and GSettings ends the
  // process when no schema at all is installed: then only a direct
  // connection can tell.
  if (g_settings_schema_source_get_default() == nullptr) g_socket_client_set_enable_proxy(client.get(), FALSE);
  GError* error = nullptr;
  GObjectRef<GSocketConnection> connection(
      g_socket_client_connect_to_uri(client.get(), url.c_str(), port, nullptr, &error));
  if (connection) return true;
  const bool unreadable = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_INVALID_ARGUMENT);
  g_error_free(error);
  return unreadable;
}

}  // namespace inkseal::printer
