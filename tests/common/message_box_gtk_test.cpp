// The GTK message box with the longest texts the programs show, measured
// against the screen: it fits the monitor's work area at the normal and at a
// 20-point font (ctest runs this a second time with GDK_SCALE=2), a long
// token wraps, a long report scrolls, the text stays whole and copyable, and
// the box carries the program's seal.  Needs a display (Xvfb in the run).
#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <set>
#include <string>
#include <unistd.h>

#include "platform/message_box.h"
#include "text/utf.h"

namespace inkseal {
namespace {

constexpr int kWatchdogSeconds = 30;

// What the open box looked like.
struct Seen {
  bool found = false;
  GdkRectangle box{};   // application pixels
  GdkRectangle work{};  // the monitor's work area
  int scale = 1;
  std::string labelText;
  std::string copied;
  bool selectable = false;
  int textHeight = 0;     // the whole text's height
  int visibleHeight = 0;  // what of it the box shows
  std::set<int> iconSizes;
};

GtkWidget* FindLabel(GtkWidget* widget) {
  if (GTK_IS_LABEL(widget) && gtk_widget_get_mapped(widget)) return widget;
  if (!GTK_IS_CONTAINER(widget)) return nullptr;
  GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
  GtkWidget* found = nullptr;
  for (GList* c = children; c != nullptr && found == nullptr; c = c->next) found = FindLabel(GTK_WIDGET(c->data));
  g_list_free(children);
  return found;
}

gboolean InspectAndClose(gpointer data) {
  auto* seen = static_cast<Seen*>(data);
  GtkWidget* box = nullptr;
  GList* toplevels = gtk_window_list_toplevels();
  for (GList* t = toplevels; t != nullptr; t = t->next) {
    if (GTK_IS_MESSAGE_DIALOG(t->data) && gtk_widget_get_mapped(GTK_WIDGET(t->data))) box = GTK_WIDGET(t->data);
  }
  g_list_free(toplevels);
  if (box == nullptr) return G_SOURCE_CONTINUE;
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);  // let the box take its size

  seen->found = true;
  GdkWindow* surface = gtk_widget_get_window(box);
  gdk_window_get_frame_extents(surface, &seen->box);
  gdk_monitor_get_workarea(gdk_display_get_monitor_at_window(gdk_window_get_display(surface), surface),
                           &seen->work);
  seen->scale = gtk_widget_get_scale_factor(box);

  GtkWidget* label = FindLabel(gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(box)));
  if (label != nullptr) {
    seen->labelText = gtk_label_get_text(GTK_LABEL(label));
    seen->selectable = gtk_label_get_selectable(GTK_LABEL(label));
    gtk_label_select_region(GTK_LABEL(label), 0, -1);
    g_signal_emit_by_name(label, "copy-clipboard");
    gchar* copied = gtk_clipboard_wait_for_text(gtk_widget_get_clipboard(label, GDK_SELECTION_CLIPBOARD));
    seen->copied = copied != nullptr ? copied : "";
    g_free(copied);
    seen->textHeight = gtk_widget_get_allocated_height(label);
    GtkWidget* shown = gtk_widget_get_parent(label);
    while (shown != nullptr && !GTK_IS_SCROLLED_WINDOW(shown)) shown = gtk_widget_get_parent(shown);
    seen->visibleHeight = gtk_widget_get_allocated_height(shown != nullptr ? shown : label);
  }
  GList* icons = gtk_window_get_icon_list(GTK_WINDOW(box));
  for (GList* i = icons; i != nullptr; i = i->next) seen->iconSizes.insert(gdk_pixbuf_get_width(GDK_PIXBUF(i->data)));
  g_list_free(icons);
  gtk_dialog_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
  return G_SOURCE_REMOVE;
}

void AbortHungBox(int) {
  static const char text[] = "message box still open after the watchdog's time: failing\n";
  (void)!write(2, text, sizeof text - 1);
  std::_Exit(3);
}

Seen ShowAndInspect(const std::u16string& text) {
  Seen seen;
  const guint source = g_timeout_add(20, InspectAndClose, &seen);
  std::signal(SIGALRM, AbortHungBox);
  alarm(kWatchdogSeconds);
  platform::ShowMessageBox(u"Inkseal", text, platform::MessageIcon::Error);
  alarm(0);
  if (!seen.found) g_source_remove(source);
  return seen;
}

class GtkMessageBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no display";
    if (std::getenv("INKSEAL_MESSAGE_OUTPUT") != nullptr) GTEST_SKIP() << "boxes go to standard error";
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
  }
};

// The browser refusal with a 240-character token, and an upload report long
// enough to need scrolling, at the theme's font and at 20 points.
TEST_F(GtkMessageBoxTest, LongTextsWrapAndScrollInsideTheWorkAreaAndStayWholeAndCopyable) {
  const std::u16string address =
      u"https://sign.inkseal.app/document/open?session=" + std::u16string(240, u'T') + u"&return=%2Fhome";
  const std::u16string refusal =
      u"\nError code: 2\nNo such file or directory\n\nCould not open the default web browser with URL:\n" + address;
  std::u16string report = u"Please report to sysadmin the following: Failed to print the document.";
  for (int line = 0; line < 120; ++line) report += u"\nResponseHeaders: X-Line-" + Utf8ToUtf16(std::to_string(line));

  for (const char* font : {"", "DejaVu Sans 20"}) {
    if (*font != '\0') g_object_set(gtk_settings_get_default(), "gtk-font-name", font, nullptr);
    for (const std::u16string& text : {refusal, report}) {
      const Seen seen = ShowAndInspect(text);
      const std::string what = std::string("font '") + font + "', " + Utf16ToUtf8(text.substr(0, 30));
      ASSERT_TRUE(seen.found) << what;
      EXPECT_GE(seen.box.x, seen.work.x) << what;
      EXPECT_GE(seen.box.y, seen.work.y) << what;
      EXPECT_LE(seen.box.x + seen.box.width, seen.work.x + seen.work.width)
          << what << ": " << seen.box.width * seen.scale << " screen pixels wide";
      EXPECT_LE(seen.box.y + seen.box.height, seen.work.y + seen.work.height) << what;
      EXPECT_EQ(seen.labelText, Utf16ToUtf8(text)) << what;
      EXPECT_EQ(seen.copied, Utf16ToUtf8(text)) << what << ": copying gives every character";
      EXPECT_TRUE(seen.selectable);
      EXPECT_EQ(seen.iconSizes, (std::set<int>{16, 32, 48})) << "the program's seal";
      if (text == report) {
        EXPECT_GT(seen.textHeight, seen.visibleHeight) << what << ": the report scrolls";
      }
    }
  }
}

}  // namespace
}  // namespace inkseal
