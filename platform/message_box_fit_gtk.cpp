#include "platform/message_box_fit_gtk.h"

#include <algorithm>

#include "platform/dynamic_symbol_posix.h"
#include "platform/program_icon_pixels.h"

namespace inkseal::platform {
namespace {

// Room left for the window manager's frame and title bar, which lie outside
// the window GTK sizes, in application pixels.
constexpr int kFrameAllowance = 48;
// Below this the text area would hide more than it shows.
constexpr int kSmallestTextArea = 64;

struct FitCalls {
  decltype(&gtk_message_dialog_get_message_area) messageDialogGetMessageArea = nullptr;
  decltype(&gtk_container_get_children) containerGetChildren = nullptr;
  decltype(&gtk_container_add) containerAdd = nullptr;
  decltype(&gtk_container_remove) containerRemove = nullptr;
  decltype(&gtk_box_pack_start) boxPackStart = nullptr;
  decltype(&gtk_box_reorder_child) boxReorderChild = nullptr;
  decltype(&gtk_label_set_line_wrap) labelSetLineWrap = nullptr;
  decltype(&gtk_label_set_line_wrap_mode) labelSetLineWrapMode = nullptr;
  decltype(&gtk_label_set_attributes) labelSetAttributes = nullptr;
  decltype(&pango_attr_list_new) attrListNew = nullptr;
  decltype(&pango_attr_list_insert) attrListInsert = nullptr;
  decltype(&pango_attr_list_unref) attrListUnref = nullptr;
  decltype(&pango_attr_insert_hyphens_new) attrInsertHyphensNew = nullptr;
  decltype(&gtk_scrolled_window_new) scrolledWindowNew = nullptr;
  decltype(&gtk_scrolled_window_set_policy) scrolledWindowSetPolicy = nullptr;
  decltype(&gtk_scrolled_window_set_overlay_scrolling) scrolledWindowSetOverlayScrolling = nullptr;
  decltype(&gtk_scrolled_window_set_propagate_natural_width) scrolledWindowSetPropagateNaturalWidth = nullptr;
  decltype(&gtk_scrolled_window_set_max_content_width) scrolledWindowSetMaxContentWidth = nullptr;
  decltype(&gtk_scrolled_window_set_min_content_height) scrolledWindowSetMinContentHeight = nullptr;
  decltype(&gtk_widget_show_all) widgetShowAll = nullptr;
  decltype(&gtk_widget_get_preferred_size) widgetGetPreferredSize = nullptr;
  decltype(&gtk_widget_get_preferred_height_for_width) widgetGetPreferredHeightForWidth = nullptr;
  decltype(&gtk_widget_get_window) widgetGetWindow = nullptr;
  decltype(&gtk_widget_get_display) widgetGetDisplay = nullptr;
  decltype(&gdk_display_get_monitor_at_window) displayGetMonitorAtWindow = nullptr;
  decltype(&gdk_display_get_primary_monitor) displayGetPrimaryMonitor = nullptr;
  decltype(&gdk_display_get_monitor) displayGetMonitor = nullptr;
  decltype(&gdk_monitor_get_workarea) monitorGetWorkarea = nullptr;
  decltype(&g_object_ref) objectRef = nullptr;
  decltype(&g_object_unref) objectUnref = nullptr;
  decltype(&g_list_free) listFree = nullptr;
};

struct IconCalls {
  decltype(&gdk_pixbuf_new_from_data) pixbufNewFromData = nullptr;
  decltype(&gtk_window_set_icon_list) windowSetIconList = nullptr;
  decltype(&g_list_append) listAppend = nullptr;
  decltype(&g_list_free_full) listFreeFull = nullptr;
  decltype(&g_object_unref) objectUnref = nullptr;
};

// Looked up once among the libraries the process has loaded: GTK is there by
// now, linked (the authenticator) or loaded globally by the message box.
const FitCalls* LoadFitCalls() {
  static const FitCalls* const loaded = []() -> const FitCalls* {
    static FitCalls c;
    void* const all = RTLD_DEFAULT;
    const bool complete =
        FindSymbol(all, "gtk_message_dialog_get_message_area", c.messageDialogGetMessageArea) &&
        FindSymbol(all, "gtk_container_get_children", c.containerGetChildren) &&
        FindSymbol(all, "gtk_container_add", c.containerAdd) &&
        FindSymbol(all, "gtk_container_remove", c.containerRemove) &&
        FindSymbol(all, "gtk_box_pack_start", c.boxPackStart) &&
        FindSymbol(all, "gtk_box_reorder_child", c.boxReorderChild) &&
        FindSymbol(all, "gtk_label_set_line_wrap", c.labelSetLineWrap) &&
        FindSymbol(all, "gtk_label_set_line_wrap_mode", c.labelSetLineWrapMode) &&
        FindSymbol(all, "gtk_label_set_attributes", c.labelSetAttributes) &&
        FindSymbol(all, "pango_attr_list_new", c.attrListNew) &&
        FindSymbol(all, "pango_attr_list_insert", c.attrListInsert) &&
        FindSymbol(all, "pango_attr_list_unref", c.attrListUnref) &&
        FindSymbol(all, "pango_attr_insert_hyphens_new", c.attrInsertHyphensNew) &&
        FindSymbol(all, "gtk_scrolled_window_new", c.scrolledWindowNew) &&
        FindSymbol(all, "gtk_scrolled_window_set_policy", c.scrolledWindowSetPolicy) &&
        FindSymbol(all, "gtk_scrolled_window_set_overlay_scrolling", c.scrolledWindowSetOverlayScrolling) &&
        FindSymbol(all, "gtk_scrolled_window_set_propagate_natural_width", c.scrolledWindowSetPropagateNaturalWidth) &&
        FindSymbol(all, "gtk_scrolled_window_set_max_content_width", c.scrolledWindowSetMaxContentWidth) &&
        FindSymbol(all, "gtk_scrolled_window_set_min_content_height", c.scrolledWindowSetMinContentHeight) &&
        FindSymbol(all, "gtk_widget_show_all", c.widgetShowAll) &&
        FindSymbol(all, "gtk_widget_get_preferred_size", c.widgetGetPreferredSize) &&
        FindSymbol(all, "gtk_widget_get_preferred_height_for_width", c.widgetGetPreferredHeightForWidth) &&
        FindSymbol(all, "gtk_widget_get_window", c.widgetGetWindow) &&
        FindSymbol(all, "gtk_widget_get_display", c.widgetGetDisplay) &&
        FindSymbol(all, "gdk_display_get_monitor_at_window", c.displayGetMonitorAtWindow) &&
        FindSymbol(all, "gdk_display_get_primary_monitor", c.displayGetPrimaryMonitor) &&
        FindSymbol(all, "gdk_display_get_monitor", c.displayGetMonitor) &&
        FindSymbol(all, "gdk_monitor_get_workarea", c.monitorGetWorkarea) &&
        FindSymbol(all, "g_object_ref", c.objectRef) && FindSymbol(all, "g_object_unref", c.objectUnref) &&
        FindSymbol(all, "g_list_free", c.listFree);
    return complete ? &c : nullptr;
  }();
  return loaded;
}

const IconCalls* LoadIconCalls() {
  static const IconCalls* const loaded = []() -> const IconCalls* {
    static IconCalls c;
    void* const all = RTLD_DEFAULT;
    const bool complete = FindSymbol(all, "gdk_pixbuf_new_from_data", c.pixbufNewFromData) &&
                          FindSymbol(all, "gtk_window_set_icon_list", c.windowSetIconList) &&
                          FindSymbol(all, "g_list_append", c.listAppend) &&
                          FindSymbol(all, "g_list_free_full", c.listFreeFull) &&
                          FindSymbol(all, "g_object_unref", c.objectUnref);
    return complete ? &c : nullptr;
  }();
  return loaded;
}

// The work area the box will be centred on, in application pixels.
GdkRectangle WorkArea(const FitCalls& gtk, GtkWidget* dialog, GtkWindow* parent) {
  GdkDisplay* display = gtk.widgetGetDisplay(dialog);
  GdkWindow* parentSurface = parent != nullptr ? gtk.widgetGetWindow(reinterpret_cast<GtkWidget*>(parent)) : nullptr;
  GdkMonitor* monitor = parentSurface != nullptr ? gtk.displayGetMonitorAtWindow(display, parentSurface) : nullptr;
  if (monitor == nullptr) monitor = gtk.displayGetPrimaryMonitor(display);
  if (monitor == nullptr) monitor = gtk.displayGetMonitor(display, 0);
  GdkRectangle area{0, 0, 0, 0};
  if (monitor != nullptr) gtk.monitorGetWorkarea(monitor, &area);
  return area;
}

GtkRequisition NaturalSize(const FitCalls& gtk, GtkWidget* widget) {
  GtkRequisition natural{};
  gtk.widgetGetPreferredSize(widget, nullptr, &natural);
  return natural;
}

}  // namespace

void FitMessageToWorkArea(GtkMessageDialog* dialog, GtkWindow* parent) {
  const FitCalls* calls = LoadFitCalls();
  if (calls == nullptr) return;
  const FitCalls& gtk = *calls;
  GtkWidget* area = gtk.messageDialogGetMessageArea(dialog);
  GList* children = gtk.containerGetChildren(reinterpret_cast<GtkContainer*>(area));
  GtkWidget* label = children != nullptr ? static_cast<GtkWidget*>(children->data) : nullptr;
  gtk.listFree(children);
  if (label == nullptr) return;

  auto* text = reinterpret_cast<GtkLabel*>(label);
  gtk.labelSetLineWrap(text, TRUE);
  gtk.labelSetLineWrapMode(text, PANGO_WRAP_WORD_CHAR);
  // A hyphen drawn where a token or an address breaks would read as part of
  // it (a hyphen is a valid character in both).
  PangoAttrList* attributes = gtk.attrListNew();
  gtk.attrListInsert(attributes, gtk.attrInsertHyphensNew(FALSE));
  gtk.labelSetAttributes(text, attributes);
  gtk.attrListUnref(attributes);

  // The label moves into a scrolled window.  GTK heeds its content limits
  // only along an axis that may scroll; across, the text wraps before it
  // could need to (its narrowest is one character).
  GtkWidget* scroller = gtk.scrolledWindowNew(nullptr, nullptr);
  auto* scrolled = reinterpret_cast<GtkScrolledWindow*>(scroller);
  gtk.scrolledWindowSetPolicy(scrolled, GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
  gtk.scrolledWindowSetPropagateNaturalWidth(scrolled, TRUE);
  gtk.objectRef(label);
  gtk.containerRemove(reinterpret_cast<GtkContainer*>(area), label);
  gtk.containerAdd(reinterpret_cast<GtkContainer*>(scroller), label);
  gtk.objectUnref(label);
  gtk.boxPackStart(reinterpret_cast<GtkBox*>(area), scroller, TRUE, TRUE, 0);
  gtk.boxReorderChild(reinterpret_cast<GtkBox*>(area), scroller, 0);
  gtk.widgetShowAll(scroller);

  // What the box needs around the text is whatever its size exceeds the
  // text's by.  Width first, since wrapped text grows taller as it narrows;
  // a scrolled window does not ask its content for the height at a given
  // width, so the text's height is set outright.
  auto* box = reinterpret_cast<GtkWidget*>(dialog);
  const GdkRectangle work = WorkArea(gtk, box, parent);
  const int widthAvailable = work.width - kFrameAllowance;
  const int heightAvailable = work.height - kFrameAllowance;
  int textWidth = NaturalSize(gtk, label).width;
  const auto narrow = [&] {
    const int excess = NaturalSize(gtk, box).width - widthAvailable;
    if (excess <= 0) return;
    textWidth = std::max(kSmallestTextArea, textWidth - excess);
    gtk.scrolledWindowSetMaxContentWidth(scrolled, textWidth);
  };
  narrow();
  int textHeight = 0;
  gtk.widgetGetPreferredHeightForWidth(label, textWidth, nullptr, &textHeight);
  gtk.scrolledWindowSetMinContentHeight(scrolled, textHeight);
  const int excessHeight = NaturalSize(gtk, box).height - heightAvailable;
  if (excessHeight > 0) {
    gtk.scrolledWindowSetMinContentHeight(scrolled, std::max(kSmallestTextArea, textHeight - excessHeight));
    // A scroll bar that stays visible shows that there is more to read; it
    // takes room beside the text.
    gtk.scrolledWindowSetOverlayScrolling(scrolled, FALSE);
    narrow();
  }
}

void SetSealIcon(GtkWindow* window) {
  const IconCalls* calls = LoadIconCalls();
  if (calls == nullptr) return;
  GList* icons = nullptr;
  for (const program_icon::Image& image : program_icon::kImages) {
    GdkPixbuf* pixbuf = calls->pixbufNewFromData(image.rgba, GDK_COLORSPACE_RGB, TRUE, 8, image.size, image.size,
                                                 image.size * 4, nullptr, nullptr);
    icons = calls->listAppend(icons, pixbuf);
  }
  calls->windowSetIconList(window, icons);
  calls->listFreeFull(icons, calls->objectUnref);
}

}  // namespace inkseal::platform
