// Messages on a Linux desktop: a modal GTK message dialog when there is a
// display; otherwise (or when INKSEAL_MESSAGE_OUTPUT=stderr) the same title,
// kind and text on standard error, so headless runs and tests see exactly
// what a user would.  The block reads
//   [<title>] error|information\n<text>\n[OK]\n
// so the text is exactly what lies between the first line and the last
// "\n[OK]\n".
#include "platform/message_box.h"

#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/utf.h"

namespace inkseal::platform {
namespace {

constexpr char kOutputVariable[] = "INKSEAL_MESSAGE_OUTPUT";
constexpr char kStandardError[] = "stderr";

bool WantsStandardError() {
  const char* output = std::getenv(kOutputVariable);
  return output != nullptr && std::strcmp(output, kStandardError) == 0;
}

// GTK may be initialised once per process; the answer is kept for later boxes.
bool HaveDisplay() {
  static const bool available = gtk_init_check(nullptr, nullptr) != FALSE;
  return available;
}

void WriteToStandardError(const std::string& title, const std::string& text, MessageIcon icon) {
  const std::string block = "[" + title + "] " + (icon == MessageIcon::Error ? "error" : "information") +
                            "\n" + text + "\n[OK]\n";
  std::fwrite(block.data(), 1, block.size(), stderr);
  std::fflush(stderr);
}

void RunDialog(const std::string& title, const std::string& text, MessageIcon icon) {
  GtkWidget* dialog = gtk_message_dialog_new(
      nullptr, GTK_DIALOG_MODAL, icon == MessageIcon::Error ? GTK_MESSAGE_ERROR : GTK_MESSAGE_INFO,
      GTK_BUTTONS_OK, "%s", text.c_str());
  gtk_window_set_title(GTK_WINDOW(dialog), title.c_str());
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
  gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
  gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
  // Let the window actually leave the screen before the program goes on.
  while (gtk_events_pending()) gtk_main_iteration();
}

}  // namespace

void ShowMessageBox(const std::u16string& title, const std::u16string& text, MessageIcon icon) {
  const std::string title8 = Utf16ToUtf8(title);
  const std::string text8 = Utf16ToUtf8(text);
  if (WantsStandardError() || !HaveDisplay()) {
    WriteToStandardError(title8, text8, icon);
  } else {
    RunDialog(title8, text8, icon);
  }
}

bool IsEmptyText(const std::u16string& text) { return text.empty(); }

}  // namespace inkseal::platform
