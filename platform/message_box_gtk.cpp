// Messages on a Linux desktop: a modal GTK message dialog when there is a
// display; otherwise (or when INKSEAL_MESSAGE_OUTPUT=stderr) the same title,
// kind and text on standard error, so headless runs and tests see exactly
// what a user would.  The block reads
//   [<title>] error|information\n<text>\n[OK]\n
// so the text is exactly what lies between the first line and the last
// "\n[OK]\n".  Standard error lands in logs: there secrets are masked,
// unless INKSEAL_MESSAGE_OUTPUT=stderr explicitly asks for the whole text
// (tests and diagnosis).
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

#include "text/secret_mask.h"
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
};

template <typename Function>
bool Find(void* library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(::dlsym(library, name));
  return function != nullptr;
}

// Loaded once and never unloaded: GTK cannot be torn down inside a process.
// Null when GTK is not installed or lacks a function.
const GtkCalls* LoadGtk() {
  static const GtkCalls* const loaded = []() -> const GtkCalls* {
    void* library = ::dlopen(kGtkLibrary, RTLD_NOW | RTLD_GLOBAL);
    if (library == nullptr) return nullptr;
    static GtkCalls calls;
    const bool complete = Find(library, "gtk_init_check", calls.initCheck) &&
                          Find(library, "gtk_message_dialog_new", calls.messageDialogNew) &&
                          Find(library, "gtk_window_set_title", calls.windowSetTitle) &&
                          Find(library, "gtk_window_set_position", calls.windowSetPosition) &&
                          Find(library, "gtk_window_set_keep_above", calls.windowSetKeepAbove) &&
                          Find(library, "gtk_dialog_run", calls.dialogRun) &&
                          Find(library, "gtk_widget_destroy", calls.widgetDestroy) &&
                          Find(library, "gtk_events_pending", calls.eventsPending) &&
                          Find(library, "gtk_main_iteration", calls.mainIteration);
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

void RunDialog(const GtkCalls& gtk, const std::string& title, const std::string& text, MessageIcon icon) {
  GtkWidget* dialog = gtk.messageDialogNew(nullptr, GTK_DIALOG_MODAL,
                                           icon == MessageIcon::Error ? GTK_MESSAGE_ERROR : GTK_MESSAGE_INFO,
                                           GTK_BUTTONS_OK, "%s", text.c_str());
  // A message dialog is a window and a dialog; GTK's checked cast macros
  // would call into GTK's type system directly, so plain casts are used.
  auto* window = reinterpret_cast<GtkWindow*>(dialog);
  gtk.windowSetTitle(window, title.c_str());
  gtk.windowSetPosition(window, GTK_WIN_POS_CENTER);
  gtk.windowSetKeepAbove(window, TRUE);
  gtk.dialogRun(reinterpret_cast<GtkDialog*>(dialog));
  gtk.widgetDestroy(dialog);
  // Let the window actually leave the screen before the program goes on.
  while (gtk.eventsPending()) gtk.mainIteration();
}

}  // namespace

void ShowMessageBox(const std::u16string& title, const std::u16string& text, MessageIcon icon) {
  const std::string title8 = Utf16ToUtf8(title);
  if (WantsStandardError()) {
    WriteToStandardError(title8, Utf16ToUtf8(text), icon);
    return;
  }
  const GtkCalls* gtk = GtkWithDisplay();
  if (gtk == nullptr) {
    WriteToStandardError(title8, Utf16ToUtf8(MaskSecrets(text)), icon);
  } else {
    RunDialog(*gtk, title8, Utf16ToUtf8(text), icon);
  }
}

bool IsEmptyText(const std::u16string& text) { return text.empty(); }

}  // namespace inkseal::platform
