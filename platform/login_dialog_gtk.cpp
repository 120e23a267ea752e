#include "platform/login_dialog.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <map>
#include <string>

#include "platform/program_icon_pixels.h"
#include "text/utf.h"

namespace inkseal::platform {
namespace {

constexpr char kTitle[] = "Inkseal";
constexpr int kEntryWidthChars = 28;
constexpr int kMargin = 12;

// The dialog's widgets by control identifier.  Each widget is also named
// after its identifier ("1001", ...) so tests and accessibility tools can
// find it.
struct LoginWidgets {
  GtkWidget* window = nullptr;
  GtkWidget* grid = nullptr;
  std::map<int, GtkWidget*> controls;
};

GtkWidget* AddControl(LoginWidgets& widgets, int controlId, GtkWidget* widget) {
  gtk_widget_set_name(widget, std::to_string(controlId).c_str());
  widgets.controls[controlId] = widget;
  return widget;
}

GtkWidget* NewLabel(const char* caption) {
  GtkWidget* label = gtk_label_new(caption);
  gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
  return label;
}

GtkWidget* NewEntry(bool masked) {
  GtkWidget* entry = gtk_entry_new();
  gtk_entry_set_width_chars(GTK_ENTRY(entry), kEntryWidthChars);
  gtk_entry_set_visibility(GTK_ENTRY(entry), masked ? FALSE : TRUE);
  // Enter in any field presses the default button, "Log in".
  gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
  return entry;
}

// A screen reader reads a field by its accessible name.  The caption is a
// separate widget: linked as the field's label (the labelled-by relation)
// and given as the field's name, the field is read as "Email", "Password"
// or "Two-factor code" rather than as a bare "text".
void NameFieldByCaption(GtkWidget* caption, GtkWidget* field) {
  gtk_label_set_mnemonic_widget(GTK_LABEL(caption), field);
  atk_object_set_name(gtk_widget_get_accessible(field), gtk_label_get_text(GTK_LABEL(caption)));
}

// The program's seal at the sizes window managers ask for.  Set as the
// default, so the message boxes of the run carry it too.
void SetProgramIcon() {
  GList* icons = nullptr;
  for (const program_icon::Image& image : program_icon::kImages) {
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_data(image.rgba, GDK_COLORSPACE_RGB, TRUE, 8, image.size, image.size,
                                                 image.size * 4, nullptr, nullptr);
    icons = g_list_append(icons, pixbuf);
  }
  gtk_window_set_default_icon_list(icons);
  g_list_free_full(icons, g_object_unref);
}

// Fields stacked as in the Windows template: the two-factor label and edit
// share the cell of the email ones (only one pair is ever shown), "Cancel"
// at the left and "Log in" at the right.
LoginWidgets BuildWidgets() {
  LoginWidgets w;
  w.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(w.window), kTitle);
  gtk_window_set_resizable(GTK_WINDOW(w.window), FALSE);
  gtk_window_set_position(GTK_WINDOW(w.window), GTK_WIN_POS_CENTER);

  GtkWidget* grid = gtk_grid_new();
  gtk_grid_set_row_spacing(GTK_GRID(grid), 4);
  gtk_grid_set_column_spacing(GTK_GRID(grid), 24);
  gtk_grid_set_column_homogeneous(GTK_GRID(grid), TRUE);
  gtk_container_set_border_width(GTK_CONTAINER(grid), kMargin);
  gtk_container_add(GTK_CONTAINER(w.window), grid);
  w.grid = grid;

  GtkWidget* emailLabel = AddControl(w, kEmailLabel, NewLabel("Email"));
  GtkWidget* codeLabel = AddControl(w, kCodeLabel, NewLabel("Two-factor code"));
  GtkWidget* emailEdit = AddControl(w, kEmailEdit, NewEntry(false));
  GtkWidget* codeEdit = AddControl(w, kCodeEdit, NewEntry(true));
  GtkWidget* passwordLabel = AddControl(w, kPasswordLabel, NewLabel("Password"));
  GtkWidget* passwordEdit = AddControl(w, kPasswordEdit, NewEntry(true));
  GtkWidget* logIn = AddControl(w, kLogInButton, gtk_button_new_with_label("Log in"));
  GtkWidget* cancel = AddControl(w, kCancelButton, gtk_button_new_with_label("Cancel"));

  NameFieldByCaption(emailLabel, emailEdit);
  NameFieldByCaption(codeLabel, codeEdit);
  NameFieldByCaption(passwordLabel, passwordEdit);

  gtk_grid_attach(GTK_GRID(grid), emailLabel, 0, 0, 2, 1);
  gtk_grid_attach(GTK_GRID(grid), codeLabel, 0, 0, 2, 1);
  gtk_grid_attach(GTK_GRID(grid), emailEdit, 0, 1, 2, 1);
  gtk_grid_attach(GTK_GRID(grid), codeEdit, 0, 1, 2, 1);
  gtk_grid_attach(GTK_GRID(grid), passwordLabel, 0, 2, 2, 1);
  gtk_grid_attach(GTK_GRID(grid), passwordEdit, 0, 3, 2, 1);
  gtk_grid_attach(GTK_GRID(grid), cancel, 0, 4, 1, 1);
  gtk_grid_attach(GTK_GRID(grid), logIn, 1, 4, 1, 1);
  // The buttons keep to the bottom of the space the credentials mode fills,
  // so they stay where they were when its rows are hidden.
  for (GtkWidget* button : {cancel, logIn}) {
    gtk_widget_set_margin_top(button, kMargin);
    gtk_widget_set_vexpand(button, TRUE);
    gtk_widget_set_valign(button, GTK_ALIGN_END);
  }

  // The two-factor pair stays hidden until the service asks for a code.
  gtk_widget_set_no_show_all(codeLabel, TRUE);
  gtk_widget_set_no_show_all(codeEdit, TRUE);

  gtk_widget_set_can_default(logIn, TRUE);
  gtk_window_set_default(GTK_WINDOW(w.window), logIn);
  gtk_style_context_add_class(gtk_widget_get_style_context(logIn), GTK_STYLE_CLASS_SUGGESTED_ACTION);

  // The Windows template's tab order: the edits, then "Log in", then "Cancel".
  GList* chain = nullptr;
  for (GtkWidget* widget : {emailEdit, codeEdit, passwordEdit, logIn, cancel}) chain = g_list_append(chain, widget);
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  gtk_container_set_focus_chain(GTK_CONTAINER(grid), chain);
  G_GNUC_END_IGNORE_DEPRECATIONS
  g_list_free(chain);
  return w;
}

class GtkLoginWindow final : public LoginWindow {
 public:
  GtkLoginWindow(const LoginWidgets& widgets, GMainLoop* loop) : widgets_(widgets), loop_(loop) {}

  int TextLength(int controlId) override { return static_cast<int>(ControlText(controlId).size()); }

  int ReadText(int controlId, char16_t* buffer, int capacity) override {
    if (capacity <= 0) return 0;
    const std::u16string text = ControlText(controlId);
    const size_t count = std::min(text.size(), static_cast<size_t>(capacity - 1));
    text.copy(buffer, count);
    buffer[count] = u'\0';
    return static_cast<int>(count);
  }

  void ShowControl(int controlId, bool visible) override {
    if (GtkWidget* widget = Control(controlId)) gtk_widget_set_visible(widget, visible ? TRUE : FALSE);
  }

  // An insensitive dialog takes no focus: the request waits for the press
  // to end.
  void FocusControl(int controlId) override {
    if (pressing_) {
      pendingFocus_ = controlId;
    } else {
      FocusAndSelect(controlId);
    }
  }

  void Beep() override { gdk_display_beep(gtk_widget_get_display(widgets_.window)); }

  void End(int result) override {
    result_ = result;
    ended_ = true;
    g_main_loop_quit(loop_);
  }

  bool Ended() const { return ended_; }
  int Result() const { return result_; }
  bool Pressing() const { return pressing_; }

  // The exchange blocks the main loop: what the user sees for its length is
  // drawn before it starts.
  void BeginPress() {
    pressing_ = true;
    pendingFocus_ = 0;
    gtk_widget_set_sensitive(widgets_.window, FALSE);
    GdkWindow* surface = gtk_widget_get_window(widgets_.window);
    if (surface == nullptr) return;
    GdkDisplay* display = gdk_window_get_display(surface);
    GdkCursor* busy = gdk_cursor_new_from_name(display, "wait");
    gdk_window_set_cursor(surface, busy);
    if (busy != nullptr) g_object_unref(busy);
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gdk_window_process_updates(surface, TRUE);
    G_GNUC_END_IGNORE_DEPRECATIONS
    gdk_display_flush(display);
  }

  // What was typed during the exchange is dropped by the message that
  // follows it (every press that reaches the service ends the dialog or
  // shows one), while the dialog is still insensitive; what is typed after
  // the message is the user's next step and reaches the dialog once the
  // loop runs again, after the focus below.
  void EndPress() {
    if (GdkWindow* surface = gtk_widget_get_window(widgets_.window)) gdk_window_set_cursor(surface, nullptr);
    gtk_widget_set_sensitive(widgets_.window, TRUE);
    pressing_ = false;
    if (ended_) return;
    // A message box had the keyboard; without a window manager nobody
    // gives it back.
    if (!gtk_window_is_active(GTK_WINDOW(widgets_.window))) gtk_window_present(GTK_WINDOW(widgets_.window));
    if (pendingFocus_ != 0) FocusAndSelect(pendingFocus_);
    pendingFocus_ = 0;
  }

 private:
  void FocusAndSelect(int controlId) {
    GtkWidget* widget = Control(controlId);
    if (widget == nullptr) return;
    gtk_widget_grab_focus(widget);
    if (GTK_IS_EDITABLE(widget)) gtk_editable_select_region(GTK_EDITABLE(widget), 0, -1);
  }

  GtkWidget* Control(int controlId) const {
    const auto found = widgets_.controls.find(controlId);
    return found == widgets_.controls.end() ? nullptr : found->second;
  }

  std::u16string ControlText(int controlId) const {
    GtkWidget* widget = Control(controlId);
    const char* text = nullptr;
    if (widget == nullptr) {
      text = "";
    } else if (GTK_IS_ENTRY(widget)) {
      text = gtk_entry_get_text(GTK_ENTRY(widget));
    } else if (GTK_IS_LABEL(widget)) {
      text = gtk_label_get_text(GTK_LABEL(widget));
    } else if (GTK_IS_BUTTON(widget)) {
      text = gtk_button_get_label(GTK_BUTTON(widget));
    }
    return Utf8ToUtf16(text != nullptr ? text : "");
  }

  const LoginWidgets& widgets_;
  GMainLoop* loop_;
  bool ended_ = false;
  int result_ = kDialogCancelled;
  bool pressing_ = false;
  int pendingFocus_ = 0;
};

struct Session {
  LoginDialogEvents& events;
  GtkLoginWindow& window;
};

// The message boxes of a press run their own loops, which could deliver a
// click meant for this dialog: no second press starts inside the first.
void OnLogInClicked(GtkButton*, gpointer data) noexcept {
  auto* session = static_cast<Session*>(data);
  if (session->window.Pressing()) return;
  session->window.BeginPress();
  session->events.OnLogIn(session->window);
  session->window.EndPress();
}

void Cancel(Session& session) {
  if (!session.window.Pressing()) session.events.OnCancel(session.window);
}

void OnCancelClicked(GtkButton*, gpointer data) noexcept { Cancel(*static_cast<Session*>(data)); }

// The close box cancels; the window itself is destroyed only after the run.
gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) noexcept {
  Cancel(*static_cast<Session*>(data));
  return TRUE;
}

gboolean OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer data) noexcept {
  if (event->keyval != GDK_KEY_Escape) return FALSE;
  Cancel(*static_cast<Session*>(data));
  return TRUE;
}

// Lets GTK finish what the destroyed window left queued.
void DrainPendingEvents() {
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}

}  // namespace

int RunLoginDialog(LoginDialogEvents& events) {
  if (!gtk_init_check(nullptr, nullptr)) return kDialogNotCreated;

  SetProgramIcon();
  const LoginWidgets widgets = BuildWidgets();
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  GtkLoginWindow window(widgets, loop);
  Session session{events, window};

  g_signal_connect(widgets.controls.at(kLogInButton), "clicked", G_CALLBACK(OnLogInClicked), &session);
  g_signal_connect(widgets.controls.at(kCancelButton), "clicked", G_CALLBACK(OnCancelClicked), &session);
  g_signal_connect(widgets.window, "delete-event", G_CALLBACK(OnDelete), &session);
  g_signal_connect(widgets.window, "key-press-event", G_CALLBACK(OnKeyPress), &session);

  const bool focusFirstField = events.OnInitDialog(window);
  if (!window.Ended()) {
    gtk_widget_show_all(widgets.window);
    // The dialog keeps its size in two-factor mode: the size the
    // credentials mode asks for is held.
    GtkRequisition natural{};
    gtk_widget_get_preferred_size(widgets.grid, nullptr, &natural);
    gtk_widget_set_size_request(widgets.grid, natural.width, natural.height);
    if (focusFirstField) {
      gtk_widget_grab_focus(widgets.controls.at(kEmailEdit));
    } else {
      gtk_window_set_focus(GTK_WINDOW(widgets.window), nullptr);
    }
    gtk_window_present(GTK_WINDOW(widgets.window));
    g_main_loop_run(loop);
  }

  gtk_widget_destroy(widgets.window);
  DrainPendingEvents();
  g_main_loop_unref(loop);
  return window.Result();
}

}  // namespace inkseal::platform
