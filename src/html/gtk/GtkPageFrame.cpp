#include "html/gtk/GtkPageFrame.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "common/CodePage.h"
#include "html/HtmlBaseDlg.h"

namespace quorvin::gtk {

bool OpenDisplay() {
    static const bool ok = [] {
        if (gtk_init_check(nullptr, nullptr)) return true;
        const char* display = std::getenv("DISPLAY");
        std::fprintf(stderr,
                     "quorvin: no display to show the window on (%s); start it on a desktop session or "
                     "under xvfb-run\n",
                     display && *display ? "cannot open DISPLAY" : "DISPLAY is not set");
        return false;
    }();
    return ok;
}

WorkArea ReadWorkArea() {
    if (!OpenDisplay()) return {0, 0, 1024, 768};
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
    if (monitor == nullptr) monitor = gdk_display_get_monitor(display, 0);
    if (monitor == nullptr) return {0, 0, 1024, 768};
    GdkRectangle area;
    gdk_monitor_get_workarea(monitor, &area);
    return {area.x, area.y, area.x + area.width, area.y + area.height};
}

GtkPageFrame::GtkPageFrame(const CHtmlBaseDlg& dlg, GtkWindow* parent, GtkWidget* content, Events events)
    : m_events(std::move(events)) {
    m_window = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    g_object_ref_sink(m_window);
    gtk_window_set_title(m_window, LocalToUtf8(dlg.m_strTitle).c_str());
    const PixelRect r = dlg.WindowRect();
    gtk_window_set_default_size(m_window, std::max(1, r.width), std::max(1, r.height));
    gtk_window_move(m_window, r.x, r.y);
    if (parent != nullptr) {
        gtk_window_set_transient_for(m_window, parent);
        gtk_window_set_modal(m_window, TRUE);
    }
    gtk_container_add(GTK_CONTAINER(m_window), content);

    g_signal_connect(m_window, "key-press-event", G_CALLBACK(OnKeyPress), nullptr);
    g_signal_connect(m_window, "delete-event", G_CALLBACK(OnDeleteEvent), this);
    g_signal_connect(m_window, "destroy", G_CALLBACK(OnDestroy), this);

    // Frame as far as the window manager allows: caption (with its boxes),
    // a border without caption, or nothing.
    gtk_widget_realize(GTK_WIDGET(m_window));
    const std::uint32_t style = dlg.Template().style;
    int decor = 0;
    int functions = GDK_FUNC_MOVE | GDK_FUNC_RESIZE;
    if (dlg.HasCaption()) {
        decor |= GDK_DECOR_TITLE | GDK_DECOR_BORDER;
        if (style & kWsSysMenu) decor |= GDK_DECOR_MENU;
        if (style & kWsMinimizeBox) decor |= GDK_DECOR_MINIMIZE;
        if (style & kWsMaximizeBox) decor |= GDK_DECOR_MAXIMIZE;
    } else if (style & (kWsBorder | kWsDlgFrame)) {
        decor |= GDK_DECOR_BORDER;
    }
    if (style & kWsSysMenu) functions |= GDK_FUNC_CLOSE;
    if (style & kWsMinimizeBox) functions |= GDK_FUNC_MINIMIZE;
    if (style & kWsMaximizeBox) functions |= GDK_FUNC_MAXIMIZE;
    GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(m_window));
    if (decor == 0) gtk_window_set_decorated(m_window, FALSE);
    gdk_window_set_decorations(gdkWindow, static_cast<GdkWMDecoration>(decor));
    gdk_window_set_functions(gdkWindow, static_cast<GdkWMFunction>(functions));
    if (dlg.Maximize()) gtk_window_maximize(m_window);
}

GtkPageFrame::~GtkPageFrame() {
    g_signal_handlers_disconnect_by_data(m_window, this);
    gtk_widget_destroy(GTK_WIDGET(m_window));
    g_object_unref(m_window);
}

void GtkPageFrame::Show(GtkWidget* focus) {
    gtk_widget_show_all(GTK_WIDGET(m_window));
    if (focus != nullptr) gtk_widget_grab_focus(focus);
}

void GtkPageFrame::SetTitle(const std::string& utf8) { gtk_window_set_title(m_window, utf8.c_str()); }

void GtkPageFrame::Maximize() { gtk_window_maximize(m_window); }

void GtkPageFrame::Close() { gtk_window_close(m_window); }

gboolean GtkPageFrame::OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer self) {
    auto* frame = static_cast<GtkPageFrame*>(self);
    // The window never goes by itself: the host decides and ends it.
    if (frame->m_events.closeCommand) frame->m_events.closeCommand();
    return TRUE;
}

void GtkPageFrame::OnDestroy(GtkWidget*, gpointer self) {
    auto* frame = static_cast<GtkPageFrame*>(self);
    if (frame->m_events.destroyed) frame->m_events.destroyed();
}

gboolean GtkPageFrame::OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer) {
    // Stateless: GTK hands a key the page did not use back here a second time.
    const guint key = gdk_keyval_to_lower(event->keyval);
    const bool ctrl = (event->state & GDK_CONTROL_MASK) != 0;
    if (ctrl && (key == GDK_KEY_n || key == GDK_KEY_f)) return TRUE;  // no new window, no find box
    if (key == GDK_KEY_F5 || key == GDK_KEY_Escape) return TRUE;      // no reload, no Esc
    return FALSE;
}

}  // namespace quorvin::gtk
