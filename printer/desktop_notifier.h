// Telling the user about waiting documents through the desktop's
// notification service (org.freedesktop.Notifications on the session bus,
// as GNOME, KDE and Xfce provide), with "Send now" and "Discard" buttons.
// Without a session bus or a notification service the text goes to the
// agent's log only, and the agent carries on.
#pragma once

#include <gio/gio.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "printer/gobject_ref.h"
#include "printer/waiting_policy.h"

namespace inkseal::printer {

class DesktopNotifier {
 public:
  // job names the job the buttons are for, as given to Tell.
  using AnswerHandler = std::function<void(const std::string& job, UserAnswer answer)>;

  // Connects to the session bus; the buttons' answers arrive on the thread
  // that runs the default main context, once it runs.
  DesktopNotifier();
  ~DesktopNotifier();
  DesktopNotifier(const DesktopNotifier&) = delete;
  DesktopNotifier& operator=(const DesktopNotifier&) = delete;

  void OnAnswer(AnswerHandler handler);

  // Shows one notification for job from any thread; false (and the text
  // logged) when no notification service took it.
  bool Tell(const std::string& job, const std::string& summary, const std::string& body);

 private:
  static void Answered(GDBusConnection* bus, const gchar* sender, const gchar* path, const gchar* interface,
                       const gchar* signal, GVariant* parameters, gpointer self);

  GObjectRef<GDBusConnection> bus;
  guint subscription = 0;
  std::mutex mutex;
  std::map<uint32_t, std::string> shown;  // notification id -> job
  AnswerHandler handler;
};

}  // namespace inkseal::printer
