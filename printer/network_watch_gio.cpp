#include "printer/network_watch.h"

namespace inkseal::printer {

NetworkWatch::NetworkWatch(std::function<void()> changed)
    : changed(std::move(changed)),
      monitor(static_cast<GNetworkMonitor*>(g_object_ref(g_network_monitor_get_default()))) {
  handler = g_signal_connect(monitor.get(), "network-changed", G_CALLBACK(&NetworkWatch::Changed), this);
}

NetworkWatch::~NetworkWatch() { g_signal_handler_disconnect(monitor.get(), handler); }

void NetworkWatch::Changed(GNetworkMonitor*, gboolean available, gpointer self) {
  if (available) static_cast<NetworkWatch*>(self)->changed();
}

}  // namespace inkseal::printer
