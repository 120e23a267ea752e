// Hearing that the network came back (GIO's network monitor), so that
// documents that could not reach the service are tried again at once.
#pragma once

#include <gio/gio.h>

#include <functional>

#include "printer/gobject_ref.h"

namespace inkseal::printer {

class NetworkWatch {
 public:
  // changed runs on the thread of the default main context each time the
  // network changes while a network is available.
  explicit NetworkWatch(std::function<void()> changed);
  ~NetworkWatch();
  NetworkWatch(const NetworkWatch&) = delete;
  NetworkWatch& operator=(const NetworkWatch&) = delete;

 private:
  static void Changed(GNetworkMonitor* monitor, gboolean available, gpointer self);

  std::function<void()> changed;
  GObjectRef<GNetworkMonitor> monitor;
  gulong handler = 0;
};

}  // namespace inkseal::printer
