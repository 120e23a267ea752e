// GIO's proxy resolver, asked asynchronously on a main context of its own so
// that a lookup which never ends (a script server that does not answer) is
// given up after the time limit instead of blocking the program.  The
// context is private: a dialog's main loop that runs meanwhile dispatches
// nothing of it, and nothing of the dialog's runs from here.
#include "platform/desktop_proxy_posix.h"

#include <gio/gio.h>

#include "platform/environment.h"

namespace inkseal::platform {

namespace {

// Shared with the lookup's callback.  Whoever comes last frees it: the
// waiter when the answer came in time, else the callback, should the
// abandoned lookup ever be dispatched.
struct Lookup {
  bool answered = false;
  bool abandoned = false;
  bool timedOut = false;
  gchar** proxies = nullptr;
};

void OnAnswer(GObject* resolver, GAsyncResult* result, gpointer data) {
  auto* lookup = static_cast<Lookup*>(data);
  gchar** proxies = g_proxy_resolver_lookup_finish(G_PROXY_RESOLVER(resolver), result, nullptr);
  if (lookup->abandoned) {
    g_strfreev(proxies);
    delete lookup;
    return;
  }
  lookup->answered = true;
  lookup->proxies = proxies;
}

gboolean OnTimeLimit(gpointer data) {
  static_cast<Lookup*>(data)->timedOut = true;
  return G_SOURCE_REMOVE;
}

// The variables by which GIO and libproxy tell that a desktop session runs.
// Outside one (a terminal login, a cron job) the resolver has nothing to go
// by but the proxy variables, which curl reads itself, while libproxy would
// still load its script engine: tens of milliseconds for every upload.
constexpr const char16_t* kDesktopSessionVariables[] = {u"XDG_CURRENT_DESKTOP", u"GNOME_DESKTOP_SESSION_ID",
                                                        u"KDE_FULL_SESSION", u"DESKTOP_SESSION"};

bool InDesktopSession() {
  for (const char16_t* name : kDesktopSessionVariables) {
    if (!EnvironmentVariable(name).empty()) return true;
  }
  return false;
}

// GNOME's resolver ends the whole process when GNOME's proxy schemas are not
// to be found (a session whose XDG_DATA_DIRS leaves them out); without them
// no desktop's proxy settings can be read anyway.
bool ProxySchemasInstalled() {
  GSettingsSchemaSource* source = g_settings_schema_source_get_default();  // owned by GIO
  if (source == nullptr) return false;
  GSettingsSchema* schema = g_settings_schema_source_lookup(source, "org.gnome.system.proxy", TRUE);
  if (schema == nullptr) return false;
  g_settings_schema_unref(schema);
  return true;
}

// Runs context until the lookup is answered or limit has passed.
bool WaitForAnswer(GMainContext* context, Lookup& lookup, std::chrono::milliseconds limit) {
  lookup.timedOut = false;
  GSource* timer = g_timeout_source_new(static_cast<guint>(limit.count()));
  g_source_set_callback(timer, OnTimeLimit, &lookup, nullptr);
  g_source_attach(timer, context);
  while (!lookup.answered && !lookup.timedOut) g_main_context_iteration(context, TRUE);
  g_source_destroy(timer);
  g_source_unref(timer);
  return lookup.answered;
}

// How long a cancelled lookup is given to end.
constexpr std::chrono::milliseconds kCancelGrace(500);

}  // namespace

bool AskDesktopForProxies(const std::string& url, std::chrono::milliseconds limit,
                          std::vector<std::string>& proxies) {
  proxies.clear();
  if (!InDesktopSession() || !ProxySchemasInstalled()) return true;  // nobody to ask: no proxy named
  GProxyResolver* resolver = g_proxy_resolver_get_default();  // owned by GIO
  if (resolver == nullptr) return false;

  GMainContext* context = g_main_context_new();
  g_main_context_push_thread_default(context);
  GCancellable* cancellable = g_cancellable_new();
  auto* lookup = new Lookup;
  g_proxy_resolver_lookup_async(resolver, url.c_str(), cancellable, OnAnswer, lookup);
  const bool inTime = WaitForAnswer(context, *lookup, limit);
  if (!inTime) g_cancellable_cancel(cancellable);
  // GIO's resolvers end a cancelled lookup at once; waiting a moment for
  // that lets everything the lookup holds go, rather than leaving it.
  if (inTime || WaitForAnswer(context, *lookup, kCancelGrace)) {
    for (gchar** proxy = lookup->proxies; inTime && proxy != nullptr && *proxy != nullptr; ++proxy) {
      proxies.emplace_back(*proxy);
    }
    g_strfreev(lookup->proxies);
    delete lookup;
  } else {
    lookup->abandoned = true;  // its callback frees it, should it ever be dispatched
  }
  g_object_unref(cancellable);
  g_main_context_pop_thread_default(context);
  g_main_context_unref(context);
  return inTime && !proxies.empty();
}

}  // namespace inkseal::platform
