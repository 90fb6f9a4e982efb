// GtkPageFrame: the GTK window around a page: caption, frame and boxes as
// the dialog's template asks (as far as the window manager allows), size
// and place, modal over its parent, and the keys the page never gets.
// Every GtkWindow call of the page window lives here.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>

#include "html/PageHost.h"

namespace quorvin {
class CHtmlBaseDlg;
}

namespace quorvin::gtk {

// False (and a line on stderr saying why) when there is no display.
bool OpenDisplay();
// The work area of the primary monitor (the first one without a primary).
WorkArea ReadWorkArea();

class GtkPageFrame {
public:
    struct Events {
        std::function<void()> closeCommand;  // close button, Alt+F4
        std::function<void()> destroyed;
    };
    // A window as dlg's template says, transient and modal over parent
    // (when there is one), holding content.
    GtkPageFrame(const CHtmlBaseDlg& dlg, GtkWindow* parent, GtkWidget* content, Events events);
    ~GtkPageFrame();
    GtkPageFrame(const GtkPageFrame&) = delete;
    GtkPageFrame& operator=(const GtkPageFrame&) = delete;

    GtkWindow* Window() const { return m_window; }
    void Show(GtkWidget* focus);
    void SetTitle(const std::string& utf8);
    void Maximize();
    // As the close button does.
    void Close();

private:
    static gboolean OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer self);
    static void OnDestroy(GtkWidget*, gpointer self);
    static gboolean OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer);

    GtkWindow* m_window = nullptr;
    Events m_events;
};

}  // namespace quorvin::gtk
