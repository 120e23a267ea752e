#include "printer/desktop_notifier.h"

#include <cstdio>
#include <cstring>

namespace inkseal::printer {
namespace {

constexpr char kService[] = "org.freedesktop.Notifications";
constexpr char kPath[] = "/org/freedesktop/Notifications";
constexpr char kInterface[] = "org.freedesktop.Notifications";
constexpr char kApplication[] = "Inkseal";
constexpr char kSendNowKey[] = "send-now";
constexpr char kDiscardKey[] = "discard";
constexpr char kSendNowLabel[] = "Send now";
constexpr char kDiscardLabel[] = "Discard";
// A notification service that does not answer must not hold up the queue.
constexpr int kCallLimitMs = 5000;

void Log(const std::string& text) { std::fprintf(stderr, "inkseal-agent: %s\n", text.c_str()); }

}  // namespace

DesktopNotifier::DesktopNotifier() {
  GError* error = nullptr;
  bus.reset(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error));
  if (!bus) {
    Log(std::string("no session bus, waiting documents are named in this log only: ") + error->message);
    g_error_free(error);
    return;
  }
  // Only the service's owner may answer: another program on the bus cannot
  // send or discard a document in the user's name by a signal of its own.
  subscription = g_dbus_connection_signal_subscribe(bus.get(), kService, kInterface, "ActionInvoked", kPath,
                                                    nullptr, G_DBUS_SIGNAL_FLAGS_NONE, &DesktopNotifier::Answered,
                                                    this, nullptr);
}

DesktopNotifier::~DesktopNotifier() {
  if (subscription != 0) g_dbus_connection_signal_unsubscribe(bus.get(), subscription);
}

void DesktopNotifier::OnAnswer(AnswerHandler answer) {
  std::lock_guard<std::mutex> lock(mutex);
  handler = std::move(answer);
}

bool DesktopNotifier::Tell(const std::string& job, const std::string& summary, const std::string& body) {
  Log(summary + ": " + body);
  if (!bus) return false;
  // Notification services may read the body as markup; they know only
  // these three entities for sure.
  std::string escaped;
  for (const char c : body) {
    escaped += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
  }
  // A D-Bus string must be UTF-8; a title that is not would end the call.
  gchar* valid = g_utf8_make_valid(escaped.c_str(), -1);
  escaped = valid;
  g_free(valid);
  GVariantBuilder actions;
  g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
  for (const char* word : {kSendNowKey, kSendNowLabel, kDiscardKey, kDiscardLabel}) {
    g_variant_builder_add(&actions, "s", word);
  }
  GVariantBuilder hints;
  g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(
      bus.get(), kService, kPath, kInterface, "Notify",
      g_variant_new("(susssasa{sv}i)", kApplication, 0u, "document-send", summary.c_str(), escaped.c_str(), &actions,
                    &hints, -1),
      G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, kCallLimitMs, nullptr, &error);
  if (reply == nullptr) {
    Log(std::string("no notification service took it: ") + error->message);
    g_error_free(error);
    return false;
  }
  guint32 id = 0;
  g_variant_get(reply, "(u)", &id);
  g_variant_unref(reply);
  std::lock_guard<std::mutex> lock(mutex);
  shown[id] = job;
  return true;
}

void DesktopNotifier::Answered(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                               GVariant* parameters, gpointer self) {
  auto& notifier = *static_cast<DesktopNotifier*>(self);
  if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(us)"))) return;
  guint32 id = 0;
  const gchar* key = nullptr;
  g_variant_get(parameters, "(u&s)", &id, &key);
  UserAnswer answer;
  if (std::strcmp(key, kSendNowKey) == 0) {
    answer = UserAnswer::kSendNow;
  } else if (std::strcmp(key, kDiscardKey) == 0) {
    answer = UserAnswer::kDiscard;
  } else {
    return;  // the notification itself was clicked: no decision
  }
  std::string job;
  AnswerHandler handler;
  {
    std::lock_guard<std::mutex> lock(notifier.mutex);
    const auto found = notifier.shown.find(id);
    if (found == notifier.shown.end()) return;  // another program's notification
    job = found->second;
    notifier.shown.erase(found);
    handler = notifier.handler;
  }
  if (handler) handler(job, answer);
}

}  // namespace inkseal::printer
