// What a GTK message box needs beyond GTK's own message dialog: a text of
// any length that stays on the screen, and the program's seal as its icon.
// GTK is reached through symbols looked up at run time (the uploader loads
// GTK only to show a box), so GTK must already be loaded and initialised;
// when a symbol is missing nothing is changed.
#pragma once

#include <gtk/gtk.h>  // declarations only

namespace inkseal::platform {

// Long text wraps at words and, inside a word longer than a line (an
// address, a token), between characters; the box is kept within the work
// area of its monitor (the parent's, else the primary one), and text that
// is still too tall scrolls.  The text stays one selectable label, so
// copying it gives every character.
void FitMessageToWorkArea(GtkMessageDialog* dialog, GtkWindow* parent);

// The program's seal (the drawing Brantwick's window carries) as the
// window icon, for the uploader's boxes as for the authenticator's.
void SetSealIcon(GtkWindow* window);

}  // namespace inkseal::platform
