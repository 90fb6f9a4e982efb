#include "html/gtk/GtkConfirmPrompt.h"

#include "common/CodePage.h"

namespace quorvin::gtk {

bool GtkConfirmPrompt::Ask(const std::string& question, bool noIsDefault) {
    const std::string text = LocalToUtf8(question);
    GtkWidget* dialog = gtk_message_dialog_new(m_parent ? m_parent() : nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_QUESTION,
                                               GTK_BUTTONS_YES_NO, "%s", text.c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), "系统提示信息");
    gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), noIsDefault ? GTK_RESPONSE_NO : GTK_RESPONSE_YES);
    GtkWidget* focus =
        gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), noIsDefault ? GTK_RESPONSE_NO : GTK_RESPONSE_YES);
    if (focus != nullptr) gtk_widget_grab_focus(focus);
    const int response = gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    // The box has no Cancel: closing it without an answer keeps the window.
    return response == GTK_RESPONSE_YES;
}

}  // namespace quorvin::gtk
