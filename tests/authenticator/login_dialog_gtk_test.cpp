// The real GTK login dialog, driven in-process through GTK itself: key
// events are delivered the way the X server's would be, buttons clicked,
// the close box pressed.  Needs a display (Xvfb in the test run).
#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <set>
#include <string>
#include <unistd.h>

#include "authenticator/main_dlg.h"
#include "platform/login_dialog.h"
#include "platform/message_box.h"
#include "recording_notifier.h"

namespace inkseal {
namespace {

using platform::LoginWindow;

constexpr int kWatchdogSeconds = 15;

// Ends the dialog with 1 on "Log in" and 2 on cancel, remembering both, and
// lets a test add what happens on "Log in".
class ScriptedEvents final : public platform::LoginDialogEvents {
 public:
  bool focusFirstField = true;
  std::function<void(LoginWindow&)> onLogIn = [](LoginWindow& w) { w.End(1); };
  int logIns = 0;
  int cancels = 0;

  bool OnInitDialog(LoginWindow&) override { return focusFirstField; }
  void OnLogIn(LoginWindow& window) override {
    ++logIns;
    onLogIn(window);
  }
  void OnCancel(LoginWindow& window) override {
    ++cancels;
    window.End(2);
  }
};

GtkWidget* FindNamed(GtkWidget* widget, const std::string& name) {
  if (name == gtk_widget_get_name(widget)) return widget;
  if (!GTK_IS_CONTAINER(widget)) return nullptr;
  GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
  GtkWidget* found = nullptr;
  for (GList* c = children; c != nullptr && found == nullptr; c = c->next) {
    found = FindNamed(GTK_WIDGET(c->data), name);
  }
  g_list_free(children);
  return found;
}

// The open dialog as a test sees it.
struct Dialog {
  GtkWidget* window;

  GtkWidget* Control(int id) const {
    GtkWidget* w = FindNamed(window, std::to_string(id));
    EXPECT_NE(w, nullptr) << "control " << id;
    return w;
  }

  std::set<int> VisibleControls() const {
    std::set<int> visible;
    for (int id : {1101, 1103, 1001, 1003, 1102, 1002, 1, 2}) {
      if (gtk_widget_is_visible(Control(id))) visible.insert(id);
    }
    return visible;
  }

  int FocusedControl() const {
    GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(window));
    return focus == nullptr ? 0 : std::atoi(gtk_widget_get_name(focus));
  }

  void Type(int id, const char* text) const { gtk_entry_set_text(GTK_ENTRY(Control(id)), text); }

  void Key(guint keyval) const {
    GdkDisplay* display = gtk_widget_get_display(window);
    GdkEvent* event = gdk_event_new(GDK_KEY_PRESS);
    event->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(window)));
    event->key.send_event = TRUE;
    event->key.time = GDK_CURRENT_TIME;
    event->key.keyval = keyval;
    GdkKeymapKey* keys = nullptr;
    gint count = 0;
    if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(display), keyval, &keys, &count) &&
        count > 0) {
      event->key.hardware_keycode = static_cast<guint16>(keys[0].keycode);
      event->key.group = static_cast<guint8>(keys[0].group);
    }
    g_free(keys);
    gdk_event_set_device(event, gdk_seat_get_keyboard(gdk_display_get_default_seat(display)));
    gtk_main_do_event(event);
    event->key.type = GDK_KEY_RELEASE;
    gtk_main_do_event(event);
    gdk_event_free(event);
  }

  void KeyIn(int id, guint keyval) const {
    gtk_widget_grab_focus(Control(id));
    Key(keyval);
  }

  void Click(int id) const { gtk_button_clicked(GTK_BUTTON(Control(id))); }

  void CloseBox() const {
    GdkEvent* event = gdk_event_new(GDK_DELETE);
    event->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(window)));
    event->any.send_event = TRUE;
    gtk_main_do_event(event);
    gdk_event_free(event);
  }

  // Lets GTK lay out and draw what the last calls changed.
  static void Settle() {
    for (int i = 0; i < 50 && gtk_events_pending(); ++i) gtk_main_iteration_do(FALSE);
  }

  // Runs the loop until condition holds (layout happens on the frame clock,
  // not at once); false after two seconds.
  static bool WaitUntil(const std::function<bool()>& condition) {
    for (int i = 0; i < 200; ++i) {
      Settle();
      if (condition()) return true;
      g_usleep(10000);
    }
    return false;
  }

  GtkAllocation Box(int id) const {
    GtkAllocation a{};
    gtk_widget_get_allocation(Control(id), &a);
    return a;
  }
};

GtkWidget* FindShownDialog() {
  GList* toplevels = gtk_window_list_toplevels();
  GtkWidget* found = nullptr;
  for (GList* t = toplevels; t != nullptr; t = t->next) {
    GtkWidget* w = GTK_WIDGET(t->data);
    if (gtk_widget_get_mapped(w) && g_strcmp0(gtk_window_get_title(GTK_WINDOW(w)), "Inkseal") == 0) found = w;
  }
  g_list_free(toplevels);
  return found;
}

struct Drive {
  std::function<void(Dialog&)> steps;
  bool ran = false;
};

gboolean DriveWhenShown(gpointer data) {
  auto* drive = static_cast<Drive*>(data);
  GtkWidget* window = FindShownDialog();
  if (window == nullptr) return G_SOURCE_CONTINUE;
  Dialog::Settle();
  Dialog dialog{window};
  drive->ran = true;
  drive->steps(dialog);
  return G_SOURCE_REMOVE;
}

// A dialog that nobody ends must fail the test, never hang it.
void AbortHungDialog(int) {
  static const char text[] = "login dialog still open after the watchdog's time: failing\n";
  (void)!write(2, text, sizeof text - 1);
  std::_Exit(3);
}

// Runs the real dialog and performs steps inside its own loop once shown.
int RunDriven(platform::LoginDialogEvents& events, std::function<void(Dialog&)> steps) {
  Drive drive{std::move(steps)};
  const guint source = g_timeout_add(20, DriveWhenShown, &drive);
  std::signal(SIGALRM, AbortHungDialog);
  alarm(kWatchdogSeconds);
  const int result = platform::RunLoginDialog(events);
  alarm(0);
  if (!drive.ran) g_source_remove(source);
  EXPECT_TRUE(drive.ran) << "the dialog was never shown";
  return result;
}

class GtkLoginDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no display";
  }
  ScriptedEvents events;
};

TEST_F(GtkLoginDialogTest, OpensInCredentialsModeWithTheTemplatesCaptionsMaskingAndArrangement) {
  const int result = RunDriven(events, [](Dialog& d) {
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(d.window)), "Inkseal");
    EXPECT_EQ(d.VisibleControls(), (std::set<int>{1101, 1001, 1102, 1002, 1, 2}));
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(d.Control(1101))), "Email");
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(d.Control(1102))), "Password");
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(d.Control(1103))), "Two-factor code");
    EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(d.Control(1))), "Log in");
    EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(d.Control(2))), "Cancel");
    EXPECT_TRUE(gtk_entry_get_visibility(GTK_ENTRY(d.Control(1001))));
    EXPECT_FALSE(gtk_entry_get_visibility(GTK_ENTRY(d.Control(1002))));
    EXPECT_FALSE(gtk_entry_get_visibility(GTK_ENTRY(d.Control(1003))));
    EXPECT_TRUE(gtk_widget_has_default(d.Control(1)));
    EXPECT_TRUE(gtk_style_context_has_class(gtk_widget_get_style_context(d.Control(1)), "suggested-action"));
    GList* icons = gtk_window_get_default_icon_list();
    std::set<int> iconSizes;
    for (GList* i = icons; i != nullptr; i = i->next) iconSizes.insert(gdk_pixbuf_get_width(GDK_PIXBUF(i->data)));
    g_list_free(icons);
    EXPECT_EQ(iconSizes, (std::set<int>{16, 32, 48})) << "the program's seal as the window icon";
    EXPECT_EQ(d.FocusedControl(), 1001);
    // Stacked top to bottom; Cancel at the left, Log in at the right.
    EXPECT_LT(d.Box(1101).y, d.Box(1001).y);
    EXPECT_LT(d.Box(1001).y, d.Box(1102).y);
    EXPECT_LT(d.Box(1102).y, d.Box(1002).y);
    EXPECT_LT(d.Box(1002).y, d.Box(2).y);
    EXPECT_EQ(d.Box(1).y, d.Box(2).y);
    EXPECT_LT(d.Box(2).x, d.Box(1).x);
    d.Click(2);
  });
  EXPECT_EQ(result, 2);
}

TEST_F(GtkLoginDialogTest, TabVisitsEmailPasswordLogInCancelInTheTemplatesOrder) {
  std::vector<int> visited;
  RunDriven(events, [&](Dialog& d) {
    for (int i = 0; i < 4; ++i) {
      visited.push_back(d.FocusedControl());
      d.Key(GDK_KEY_Tab);
    }
    d.Key(GDK_KEY_Escape);
  });
  EXPECT_EQ(visited, (std::vector<int>{1001, 1002, 1, 2}));
}

TEST_F(GtkLoginDialogTest, EnterInEitherFieldAndTheLogInButtonPressLogIn) {
  for (int control : {1001, 1002}) {
    ScriptedEvents fresh;
    const int result = RunDriven(fresh, [&](Dialog& d) { d.KeyIn(control, GDK_KEY_Return); });
    EXPECT_EQ(result, 1) << "Enter in " << control;
    EXPECT_EQ(fresh.logIns, 1);
  }
  const int result = RunDriven(events, [](Dialog& d) { d.Click(1); });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(events.logIns, 1);
  EXPECT_EQ(events.cancels, 0);
}

TEST_F(GtkLoginDialogTest, EscapeCancelAndTheCloseBoxEachEndWithTwoInBothModes) {
  const std::vector<std::function<void(Dialog&)>> cancellers = {
      [](Dialog& d) { d.KeyIn(1002, GDK_KEY_Escape); },
      [](Dialog& d) { d.Click(2); },
      [](Dialog& d) { d.CloseBox(); },
  };
  for (bool twoFactor : {false, true}) {
    for (const auto& cancel : cancellers) {
      ScriptedEvents fresh;
      // In two-factor mode "Log in" switches the dialog (as a TOTP demand would).
      fresh.onLogIn = [](LoginWindow& w) { CMainDlg::SwitchToTwoFactorMode(w); };
      const int result = RunDriven(fresh, [&](Dialog& d) {
        if (twoFactor) d.Click(1);
        d.Settle();
        cancel(d);
      });
      EXPECT_EQ(result, 2);
      EXPECT_EQ(fresh.cancels, 1);
    }
  }
}

TEST_F(GtkLoginDialogTest, TwoFactorModeShowsTheMaskedCodeInTheEmailsPlaceAndEnterThereLogsIn) {
  int pressesSeen = 0;
  events.onLogIn = [&](LoginWindow& w) {
    if (++pressesSeen == 1) {
      CMainDlg::SwitchToTwoFactorMode(w);
    } else {
      w.End(1);
    }
  };
  const int result = RunDriven(events, [](Dialog& d) {
    const GtkAllocation emailBox = d.Box(1001);
    const GtkAllocation logInBox = d.Box(1);
    int width = 0;
    int height = 0;
    gtk_window_get_size(GTK_WINDOW(d.window), &width, &height);
    d.Click(1);
    EXPECT_TRUE(d.WaitUntil([&] { return d.Box(1003).y >= 0; }));
    EXPECT_EQ(d.VisibleControls(), (std::set<int>{1103, 1003, 1, 2}));
    EXPECT_EQ(d.Box(1003).y, emailBox.y);
    EXPECT_EQ(d.Box(1003).x, emailBox.x);
    // The dialog keeps its size and the buttons do not move.
    d.WaitUntil([&] { return false; });
    int widthAfter = 0;
    int heightAfter = 0;
    gtk_window_get_size(GTK_WINDOW(d.window), &widthAfter, &heightAfter);
    EXPECT_EQ(widthAfter, width);
    EXPECT_EQ(heightAfter, height);
    EXPECT_EQ(d.Box(1).y, logInBox.y);
    EXPECT_EQ(d.Box(1).x, logInBox.x);
    EXPECT_EQ(d.FocusedControl(), 1003) << "the code goes in without a Tab";
    d.KeyIn(1003, GDK_KEY_Return);
  });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(pressesSeen, 2);
}

// The press blocks the loop: for its length the dialog is insensitive with
// the busy cursor, input that arrived meanwhile is dropped, and neither a
// second press nor a cancel starts inside it.  A focus asked for during the
// press arrives after it, with the field's text selected.
TEST_F(GtkLoginDialogTest, DuringAPressTheDialogIsBusyAndWhatArrivesMeanwhileIsDropped) {
  bool sensitiveInside = true;
  bool busyCursorInside = false;
  GtkWidget* dialogWindow = nullptr;
  events.onLogIn = [&](LoginWindow& w) {
    sensitiveInside = gtk_widget_is_sensitive(dialogWindow);
    busyCursorInside = gdk_window_get_cursor(gtk_widget_get_window(dialogWindow)) != nullptr;
    Dialog d{dialogWindow};
    d.Key(GDK_KEY_Escape);  // delivered straight away, as a box's loop would
    d.Click(2);
    d.Click(1);
    d.CloseBox();
    w.FocusControl(1002);
  };
  const int result = RunDriven(events, [&](Dialog& d) {
    dialogWindow = d.window;
    d.Type(1002, "000000");
    gtk_widget_grab_focus(d.Control(1001));
    d.Click(1);
    EXPECT_TRUE(gtk_widget_is_sensitive(d.window));
    EXPECT_EQ(gdk_window_get_cursor(gtk_widget_get_window(d.window)), nullptr);
    EXPECT_EQ(d.FocusedControl(), 1002);
    int start = 0;
    int end = 0;
    EXPECT_TRUE(gtk_editable_get_selection_bounds(GTK_EDITABLE(d.Control(1002)), &start, &end));
    EXPECT_EQ(start, 0);
    EXPECT_EQ(end, 6);
    d.Click(2);
  });
  EXPECT_FALSE(sensitiveInside);
  EXPECT_TRUE(busyCursorInside);
  EXPECT_EQ(events.logIns, 1) << "no press inside the press";
  EXPECT_EQ(events.cancels, 1) << "only the Cancel after the press";
  EXPECT_EQ(result, 2);
}

// What a box shown during a press looks like, read off the open box.
struct SeenBox {
  bool found = false;
  std::string iconName;
  bool textSelectable = false;
  bool transientForDialog = false;
  GdkWindowTypeHint typeHint = GDK_WINDOW_TYPE_HINT_NORMAL;
  bool modal = false;
  bool hasWindowIcon = false;
  bool okFocused = false;
  GtkWidget* dialogWindow = nullptr;
};

gboolean InspectAndCloseBox(gpointer data) {
  auto* seen = static_cast<SeenBox*>(data);
  GList* toplevels = gtk_window_list_toplevels();
  GtkWidget* box = nullptr;
  for (GList* t = toplevels; t != nullptr; t = t->next) {
    if (GTK_IS_MESSAGE_DIALOG(t->data) && gtk_widget_get_mapped(GTK_WIDGET(t->data))) box = GTK_WIDGET(t->data);
  }
  g_list_free(toplevels);
  if (box == nullptr) return G_SOURCE_CONTINUE;
  seen->found = true;
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  GtkWidget* image = gtk_message_dialog_get_image(GTK_MESSAGE_DIALOG(box));
  G_GNUC_END_IGNORE_DEPRECATIONS
  if (GTK_IS_IMAGE(image) && gtk_widget_get_visible(image)) {
    const gchar* name = nullptr;
    gtk_image_get_icon_name(GTK_IMAGE(image), &name, nullptr);
    seen->iconName = name != nullptr ? name : "";
  }
  GList* labels = gtk_container_get_children(GTK_CONTAINER(gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(box))));
  // The text may sit in a scrolled window's viewport.
  GtkWidget* text = labels != nullptr ? GTK_WIDGET(labels->data) : nullptr;
  while (GTK_IS_BIN(text)) text = gtk_bin_get_child(GTK_BIN(text));
  seen->textSelectable = GTK_IS_LABEL(text) && gtk_label_get_selectable(GTK_LABEL(text));
  g_list_free(labels);
  seen->transientForDialog = gtk_window_get_transient_for(GTK_WINDOW(box)) == GTK_WINDOW(seen->dialogWindow);
  seen->typeHint = gtk_window_get_type_hint(GTK_WINDOW(box));
  seen->modal = gtk_window_get_modal(GTK_WINDOW(box));
  GList* icons = gtk_window_get_icon_list(GTK_WINDOW(box));
  GList* defaults = gtk_window_get_default_icon_list();
  seen->hasWindowIcon = icons != nullptr || defaults != nullptr;
  g_list_free(icons);
  g_list_free(defaults);
  GtkWidget* ok = gtk_dialog_get_widget_for_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
  seen->okFocused = ok != nullptr && gtk_window_get_focus(GTK_WINDOW(box)) == ok;
  gtk_dialog_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
  return G_SOURCE_REMOVE;
}

// A box during a press is a dialog of the login dialog: its icon says what
// kind of message it is, its text can be copied, and OK has the keyboard.
TEST_F(GtkLoginDialogTest, ABoxShownDuringAPressBelongsToTheDialogWithIconAndSelectableText) {
  if (std::getenv("INKSEAL_MESSAGE_OUTPUT") != nullptr) GTEST_SKIP() << "boxes go to standard error";
  for (const platform::MessageIcon kind : {platform::MessageIcon::Error, platform::MessageIcon::Information}) {
    SeenBox seen;
    ScriptedEvents fresh;
    fresh.onLogIn = [&](LoginWindow& w) {
      const guint source = g_timeout_add(20, InspectAndCloseBox, &seen);
      platform::ShowMessageBox(u"Inkseal", u"Please report to sysadmin the following: ...", kind);
      if (!seen.found) g_source_remove(source);
      w.End(1);
    };
    RunDriven(fresh, [&](Dialog& d) {
      seen.dialogWindow = d.window;
      d.Click(1);
    });
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.iconName, kind == platform::MessageIcon::Error ? "dialog-error" : "dialog-information");
    EXPECT_TRUE(seen.textSelectable);
    EXPECT_TRUE(seen.transientForDialog);
    EXPECT_EQ(seen.typeHint, GDK_WINDOW_TYPE_HINT_DIALOG);
    EXPECT_TRUE(seen.modal);
    EXPECT_TRUE(seen.hasWindowIcon) << "the program's seal";
    EXPECT_TRUE(seen.okFocused) << "Enter closes the box";
  }
}

TEST_F(GtkLoginDialogTest, WithoutAUserFolderNoFieldHasTheFocusButTheDialogWorks) {
  events.focusFirstField = false;
  const int result = RunDriven(events, [](Dialog& d) {
    EXPECT_EQ(d.FocusedControl(), 0);
    d.Key(GDK_KEY_Return);  // Enter still reaches the default button
  });
  EXPECT_EQ(result, 1);
}

TEST_F(GtkLoginDialogTest, FieldsAreReadFromTheEntriesTrimmedWhileTheEntriesKeepTheirText) {
  testing::RecordingNotifier notifier;
  CMainDlg logic(u"https://127.0.0.1:9/unused", CertificateTrust(), notifier);
  std::string emailAfter;
  events.onLogIn = [&](LoginWindow& w) {
    EXPECT_TRUE(logic.ReadFields(w));
    w.End(1);
  };
  RunDriven(events, [&](Dialog& d) {
    d.Type(1001, "  \xC3\xA9mile@inkseal.test\t");
    d.Type(1002, " pass word ");
    d.Click(1);
    emailAfter = gtk_entry_get_text(GTK_ENTRY(d.Control(1001)));
  });
  EXPECT_EQ(logic.Fields().email, u"\u00E9mile@inkseal.test");
  EXPECT_EQ(logic.Fields().password, u"pass word");
  EXPECT_EQ(logic.Fields().code, u"");
  EXPECT_EQ(emailAfter, "  \xC3\xA9mile@inkseal.test\t");
}

}  // namespace
}  // namespace inkseal
