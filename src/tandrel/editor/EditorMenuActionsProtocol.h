#pragma once
// The Editor menu's commands, answered by the editor screen: each changes one editor preference,
// saves it, and sends it to the page once the save succeeded.
#include "platform/ui/Responder.h"

class EditorMenuActionsProtocol {
public:
    virtual ~EditorMenuActionsProtocol() = default;
    virtual void edm_toggle_gutter() = 0;
    virtual void edm_toggle_autosuggest() = 0;
    virtual void edm_toggle_invisibles() = 0;
    virtual void edm_set_theme(const ui::Command& sender) = 0;
    virtual void edm_beautify() = 0;
    virtual void edm_sw_set(const ui::Command& sender) = 0;
};
