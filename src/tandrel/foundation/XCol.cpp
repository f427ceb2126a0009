#include "tandrel/foundation/XCol.h"

namespace {

struct HSB {
    double h, s, b;
};

// The dark values for the dark style; the light values for the light and the unspecified style.
ui::DynamicColor paletteColor(HSB light, HSB dark) {
    return XCol::makeDynamicColor([light, dark](const ui::TraitCollection& traits) {
        const HSB& v = traits.userInterfaceStyle == ui::InterfaceStyle::dark ? dark : light;
        return ui::DynamicColor::hsb(v.h, v.s, v.b, 1.0);
    });
}

}  // namespace

ui::DynamicColor XCol::makeDynamicColor(ui::DynamicColor::Provider provider) {
    return ui::DynamicColor(std::move(provider));
}

// Function-local statics: made once, on first use, safely from any thread.
const ui::DynamicColor& XCol::foreground() {
    static const ui::DynamicColor c = paletteColor({1.0, 1.0, 0.0}, {1.0, 0.0, 1.0});
    return c;
}

const ui::DynamicColor& XCol::button_background() {
    static const ui::DynamicColor c = paletteColor({0.59, 0.2, 0.93}, {0.59, 0.8, 0.07});
    return c;
}

const ui::DynamicColor& XCol::gradient_start() {
    static const ui::DynamicColor c = paletteColor({0.0, 0.0, 0.9}, {0.64, 0.16, 0.29});
    return c;
}

const ui::DynamicColor& XCol::background() {
    static const ui::DynamicColor c = paletteColor({0.0, 0.0, 1.0}, {0.64, 0.25, 0.1});
    return c;
}

const ui::DynamicColor& XCol::selected_row() {
    static const ui::DynamicColor c = paletteColor({0.67, 0.0, 0.94}, {0.6, 0.25, 0.28});
    return c;
}

const ui::DynamicColor& XCol::border() {
    // The dark hue was once given as 360 on the 0-to-1 scale; with no saturation and no
    // brightness the colour is black whatever the hue, so it is 0 here.
    static const ui::DynamicColor c = paletteColor({0.67, 0.01, 0.6}, {0.0, 0.0, 0.0});
    return c;
}

const ui::DynamicColor& XCol::orange() {
    static const ui::DynamicColor c = paletteColor({0.07, 0.73, 1.0}, {0.07, 0.91, 1.0});
    return c;
}

const ui::DynamicColor& XCol::green() {
    static const ui::DynamicColor c = paletteColor({0.39, 1.0, 0.67}, {0.39, 1.0, 0.83});
    return c;
}

const ui::DynamicColor& XCol::teal() {
    static const ui::DynamicColor c = paletteColor({0.48, 1.0, 0.73}, {0.48, 1.0, 0.73});
    return c;
}

const ui::DynamicColor& XCol::purple() {
    static const ui::DynamicColor c = paletteColor({0.77, 0.6, 0.7}, {0.77, 0.6, 0.7});
    return c;
}

const ui::DynamicColor& XCol::yellow() {
    static const ui::DynamicColor c = paletteColor({0.17, 0.66, 0.84}, {0.17, 0.66, 0.84});
    return c;
}

const ui::DynamicColor& XCol::pink() {
    static const ui::DynamicColor c = paletteColor({0.92, 0.91, 1.0}, {0.92, 0.91, 1.0});
    return c;
}
