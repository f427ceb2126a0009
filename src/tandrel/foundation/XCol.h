#pragma once
// The app's palette: twelve named colours, each made once on first use, that resolve by the light
// or dark appearance of whatever draws them (ui::DynamicColor::resolvedFor(widget)). Eight differ
// between the appearances; four are the same in both.
#include "platform/ui/Color.h"

class XCol {
public:
    // A colour that calls the provider with the appearance whenever it is resolved.
    static ui::DynamicColor makeDynamicColor(ui::DynamicColor::Provider provider);

    static const ui::DynamicColor& foreground();         // black / white
    static const ui::DynamicColor& button_background();  // pale blue-grey / near-black navy
    static const ui::DynamicColor& gradient_start();     // light grey / dark slate
    static const ui::DynamicColor& background();         // white / very dark blue
    static const ui::DynamicColor& selected_row();       // light grey / dark blue-grey
    static const ui::DynamicColor& border();             // mid grey / black
    static const ui::DynamicColor& orange();             // orange / deeper orange
    static const ui::DynamicColor& green();              // green / brighter green
    static const ui::DynamicColor& teal();
    static const ui::DynamicColor& purple();
    static const ui::DynamicColor& yellow();
    static const ui::DynamicColor& pink();

    // The names the document screens use for the same colours.
    static const ui::DynamicColor& text_primary() { return foreground(); }
    static const ui::DynamicColor& bar_gradient_start() { return gradient_start(); }
    static const ui::DynamicColor& bar_background() { return background(); }
    static const ui::DynamicColor& status_pending() { return orange(); }
    static const ui::DynamicColor& status_connected() { return green(); }
    static const ui::DynamicColor& preview_title() { return purple(); }
    static const ui::DynamicColor& accent_teal() { return teal(); }
    static const ui::DynamicColor& accent_pink() { return pink(); }
};
