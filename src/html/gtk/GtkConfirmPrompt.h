// The yes/no box of the close confirmation: a GTK message dialog titled
// "系统提示信息", question icon, kept above, modal over the asking window.
#pragma once

#include <gtk/gtk.h>

#include <functional>

#include "common/CommonTool.h"

namespace quorvin::gtk {

class GtkConfirmPrompt : public ConfirmPrompt {
public:
    // parent gives the window the box belongs to (may give null).
    explicit GtkConfirmPrompt(std::function<GtkWindow*()> parent) : m_parent(std::move(parent)) {}
    bool Ask(const std::string& question, bool noIsDefault) override;

private:
    std::function<GtkWindow*()> m_parent;
};

}  // namespace quorvin::gtk
