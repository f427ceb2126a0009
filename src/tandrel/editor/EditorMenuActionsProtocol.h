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

    // The commands' selectors, as the menus and their validation name them.
    static constexpr const char* kToggleGutter = "edm_toggle_gutter";
    static constexpr const char* kToggleAutosuggest = "edm_toggle_autosuggest";
    static constexpr const char* kToggleInvisibles = "edm_toggle_invisibles";
    static constexpr const char* kSetTheme = "edm_set_theme:";
    static constexpr const char* kBeautify = "edm_beautify";
    static constexpr const char* kSoftWrapSet = "edm_sw_set:";
};
