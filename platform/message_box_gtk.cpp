// Messages on a Linux desktop: a modal GTK message dialog when there is a
// display; otherwise (or when INKSEAL_MESSAGE_OUTPUT=stderr) the same title,
// kind and text on standard error, so headless runs and tests see exactly
// what a user would.  The block reads
//   [<title>] error|information\n<text>\n[OK]\n
// so the text is exactly what lies between the first line and the last
// "\n[OK]\n".  The text arrives with its secrets already masked.
//
// GTK is loaded only when a box is really shown.  A successful upload shows
// none, and linking GTK would make every run load about a hundred libraries
// at start-up, which costs more than the upload of a small document.
#include "platform/message_box.h"

#include <dlfcn.h>
#include <gtk/gtk.h>  // declarations only: every call goes through GtkCalls

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/dynamic_symbol_posix.h"
#include "platform/message_box_fit_gtk.h"
#include "text/utf.h"

namespace inkseal::platform {
namespace {

constexpr char kOutputVariable[] = "INKSEAL_MESSAGE_OUTPUT";
constexpr char kStandardError[] = "stderr";
constexpr char kGtkLibrary[] = "libgtk-3.so.0";

// The GTK functions a message box needs, looked up in the loaded library.
// In a program that links GTK anyway the lookup finds the very same library.
struct GtkCalls {
  decltype(&gtk_init_check) initCheck = nullptr;
  decltype(&gtk_message_dialog_new) messageDialogNew = nullptr;
  decltype(&gtk_window_set_title) windowSetTitle = nullptr;
  decltype(&gtk_window_set_position) windowSetPosition = nullptr;
  decltype(&gtk_window_set_keep_above) windowSetKeepAbove = nullptr;
  decltype(&gtk_dialog_run) dialogRun = nullptr;
  decltype(&gtk_widget_destroy) widgetDestroy = nullptr;
  decltype(&gtk_events_pending) eventsPending = nullptr;
  decltype(&gtk_main_iteration) mainIteration = nullptr;
  decltype(&gdk_display_get_default) displayGetDefault = nullptr;
  decltype(&gdk_display_sync) displaySync = nullptr;
  decltype(&gtk_image_new_from_icon_name) imageNewFromIconName = nullptr;
  // Deprecated, yet the one way left to put an icon beside the text.
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  decltype(&gtk_message_dialog_set_image) messageDialogSetImage = nullptr;
  G_GNUC_END_IGNORE_DEPRECATIONS
  decltype(&gtk_message_dialog_get_message_area) messageDialogGetMessageArea = nullptr;
  decltype(&gtk_container_get_children) containerGetChildren = nullptr;
  decltype(&gtk_label_set_selectable) labelSetSelectable = nullptr;
  decltype(&gtk_widget_show) widgetShow = nullptr;
  decltype(&gtk_widget_grab_focus) widgetGrabFocus = nullptr;
  decltype(&gtk_widget_get_mapped) widgetGetMapped = nullptr;
  decltype(&gtk_dialog_get_widget_for_response) dialogGetWidgetForResponse = nullptr;
  decltype(&gtk_dialog_set_default_response) dialogSetDefaultResponse = nullptr;
  decltype(&gtk_window_list_toplevels) windowListToplevels = nullptr;
  decltype(&gtk_window_set_transient_for) windowSetTransientFor = nullptr;
  decltype(&gtk_window_set_type_hint) windowSetTypeHint = nullptr;
  decltype(&gtk_window_set_modal) windowSetModal = nullptr;
  decltype(&g_type_check_instance_is_a) typeCheckInstanceIsA = nullptr;
  decltype(&gtk_label_get_type) labelGetType = nullptr;
  decltype(&g_list_free) listFree = nullptr;
};

// Loaded once and never unloaded: GTK cannot be torn down inside a process.
// Null when GTK is not installed or lacks a function.
const GtkCalls* LoadGtk() {
  static const GtkCalls* const loaded = []() -> const GtkCalls* {
    void* library = ::dlopen(kGtkLibrary, RTLD_NOW | RTLD_GLOBAL);
    if (library == nullptr) return nullptr;
    static GtkCalls calls;
    const bool complete = FindSymbol(library, "gtk_init_check", calls.initCheck) &&
                          FindSymbol(library, "gtk_message_dialog_new", calls.messageDialogNew) &&
                          FindSymbol(library, "gtk_window_set_title", calls.windowSetTitle) &&
                          FindSymbol(library, "gtk_window_set_position", calls.windowSetPosition) &&
                          FindSymbol(library, "gtk_window_set_keep_above", calls.windowSetKeepAbove) &&
                          FindSymbol(library, "gtk_dialog_run", calls.dialogRun) &&
                          FindSymbol(library, "gtk_widget_destroy", calls.widgetDestroy) &&
                          FindSymbol(library, "gtk_events_pending", calls.eventsPending) &&
                          FindSymbol(library, "gtk_main_iteration", calls.mainIteration) &&
                          FindSymbol(library, "gdk_display_get_default", calls.displayGetDefault) &&
                          FindSymbol(library, "gdk_display_sync", calls.displaySync) &&
                          FindSymbol(library, "gtk_image_new_from_icon_name", calls.imageNewFromIconName) &&
                          FindSymbol(library, "gtk_message_dialog_set_image", calls.messageDialogSetImage) &&
                          FindSymbol(library, "gtk_message_dialog_get_message_area", calls.messageDialogGetMessageArea) &&
                          FindSymbol(library, "gtk_container_get_children", calls.containerGetChildren) &&
                          FindSymbol(library, "gtk_label_set_selectable", calls.labelSetSelectable) &&
                          FindSymbol(library, "gtk_widget_show", calls.widgetShow) &&
                          FindSymbol(library, "gtk_widget_grab_focus", calls.widgetGrabFocus) &&
                          FindSymbol(library, "gtk_widget_get_mapped", calls.widgetGetMapped) &&
                          FindSymbol(library, "gtk_dialog_get_widget_for_response", calls.dialogGetWidgetForResponse) &&
                          FindSymbol(library, "gtk_dialog_set_default_response", calls.dialogSetDefaultResponse) &&
                          FindSymbol(library, "gtk_window_list_toplevels", calls.windowListToplevels) &&
                          FindSymbol(library, "gtk_window_set_transient_for", calls.windowSetTransientFor) &&
                          FindSymbol(library, "gtk_window_set_type_hint", calls.windowSetTypeHint) &&
                          FindSymbol(library, "gtk_window_set_modal", calls.windowSetModal) &&
                          FindSymbol(library, "g_type_check_instance_is_a", calls.typeCheckInstanceIsA) &&
                          FindSymbol(library, "gtk_label_get_type", calls.labelGetType) &&
                          FindSymbol(library, "g_list_free", calls.listFree);
    return complete ? &calls : nullptr;
  }();
  return loaded;
}

bool WantsStandardError() {
  const char* output = std::getenv(kOutputVariable);
  return output != nullptr && std::strcmp(output, kStandardError) == 0;
}

// GTK with an open display, or null.  GTK may be initialised once per
// process; the answer is kept for later boxes.
const GtkCalls* GtkWithDisplay() {
  static const GtkCalls* const usable = []() -> const GtkCalls* {
    const GtkCalls* gtk = LoadGtk();
    return gtk != nullptr && gtk->initCheck(nullptr, nullptr) != FALSE ? gtk : nullptr;
  }();
  return usable;
}

void WriteToStandardError(const std::string& title, const std::string& text, MessageIcon icon) {
  const std::string block = "[" + title + "] " + (icon == MessageIcon::Error ? "error" : "information") +
                            "\n" + text + "\n[OK]\n";
  std::fwrite(block.data(), 1, block.size(), stderr);
  std::fflush(stderr);
}

// Input queued before the box appeared was meant for a window the user saw
// then.  Handed out now it reaches the windows it was typed into (an
// insensitive one drops it); once the box is up it would go to the box, and
// an Enter or Escape typed during a slow exchange would close it unread.
void DeliverQueuedInput(const GtkCalls& gtk) {
  if (GdkDisplay* display = gtk.displayGetDefault()) gtk.displaySync(display);
  while (gtk.eventsPending()) gtk.mainIteration();
}

// The program's own window on screen, if it has one: the box belongs to it
// (a dialog of that window, above it, kept off the taskbar by the window
// manager) rather than standing beside it like a second main window.
GtkWindow* ProgramWindow(const GtkCalls& gtk) {
  GList* toplevels = gtk.windowListToplevels();
  GtkWindow* found = nullptr;
  for (GList* t = toplevels; t != nullptr && found == nullptr; t = t->next) {
    auto* widget = static_cast<GtkWidget*>(t->data);
    if (gtk.widgetGetMapped(widget)) found = reinterpret_cast<GtkWindow*>(widget);
  }
  gtk.listFree(toplevels);
  return found;
}

// The text can be selected and copied (it asks the user to pass it on).
// Selectable labels would take the first focus and have their whole text
// selected: the keyboard starts on OK, so Enter still closes the box.
void MakeTextSelectable(const GtkCalls& gtk, GtkWidget* dialog) {
  GtkWidget* area = gtk.messageDialogGetMessageArea(reinterpret_cast<GtkMessageDialog*>(dialog));
  GList* children = gtk.containerGetChildren(reinterpret_cast<GtkContainer*>(area));
  for (GList* c = children; c != nullptr; c = c->next) {
    if (gtk.typeCheckInstanceIsA(static_cast<GTypeInstance*>(c->data), gtk.labelGetType())) {
      gtk.labelSetSelectable(static_cast<GtkLabel*>(c->data), TRUE);
    }
  }
  gtk.listFree(children);
  auto* box = reinterpret_cast<GtkDialog*>(dialog);
  gtk.dialogSetDefaultResponse(box, GTK_RESPONSE_OK);
  if (GtkWidget* ok = gtk.dialogGetWidgetForResponse(box, GTK_RESPONSE_OK)) gtk.widgetGrabFocus(ok);
}

void RunDialog(const GtkCalls& gtk, const std::string& title, const std::string& text, MessageIcon icon) {
  DeliverQueuedInput(gtk);
  GtkWidget* dialog = gtk.messageDialogNew(nullptr, GTK_DIALOG_MODAL,
                                           icon == MessageIcon::Error ? GTK_MESSAGE_ERROR : GTK_MESSAGE_INFO,
                                           GTK_BUTTONS_OK, "%s", text.c_str());
  // A message dialog is a window and a dialog; GTK's checked cast macros
  // would call into GTK's type system directly, so plain casts are used.
  auto* window = reinterpret_cast<GtkWindow*>(dialog);
  gtk.windowSetTitle(window, title.c_str());

  // GTK 3 message dialogs show no image of their own any more.
  GtkWidget* image = gtk.imageNewFromIconName(icon == MessageIcon::Error ? "dialog-error" : "dialog-information",
                                              GTK_ICON_SIZE_DIALOG);
  gtk.messageDialogSetImage(reinterpret_cast<GtkMessageDialog*>(dialog), image);
  gtk.widgetShow(image);
  MakeTextSelectable(gtk, dialog);

  gtk.windowSetTypeHint(window, GDK_WINDOW_TYPE_HINT_DIALOG);
  gtk.windowSetModal(window, TRUE);
  GtkWindow* parent = ProgramWindow(gtk);
  if (parent != nullptr) {
    gtk.windowSetTransientFor(window, parent);
    gtk.windowSetPosition(window, GTK_WIN_POS_CENTER_ON_PARENT);
  } else {
    gtk.windowSetPosition(window, GTK_WIN_POS_CENTER);
    gtk.windowSetKeepAbove(window, TRUE);
  }
  FitMessageToWorkArea(reinterpret_cast<GtkMessageDialog*>(dialog), parent);
  SetSealIcon(window);
  gtk.dialogRun(reinterpret_cast<GtkDialog*>(dialog));
  gtk.widgetDestroy(dialog);
  // Let the window actually leave the screen before the program goes on.
  while (gtk.eventsPending()) gtk.mainIteration();
}

void DeliverQueuedInputOfOpenWindows() {
  void* loaded = ::dlopen(kGtkLibrary, RTLD_NOW | RTLD_NOLOAD);
  if (loaded == nullptr) return;
  const GtkCalls* gtk = LoadGtk();
  if (gtk != nullptr && gtk->displayGetDefault() != nullptr) DeliverQueuedInput(*gtk);
  ::dlclose(loaded);
}

}  // namespace

void ShowMessageBox(const std::u16string& title, const std::u16string& text, MessageIcon icon) {
  const std::string title8 = Utf16ToUtf8(title);
  const GtkCalls* gtk = WantsStandardError() ? nullptr : GtkWithDisplay();
  if (gtk == nullptr) {
    DeliverQueuedInputOfOpenWindows();
    WriteToStandardError(title8, Utf16ToUtf8(text), icon);
  } else {
    RunDialog(*gtk, title8, Utf16ToUtf8(text), icon);
  }
}

bool IsEmptyText(const std::u16string& text) { return text.empty(); }

}  // namespace inkseal::platform
