#pragma once
// The symbol images of listing rows and of the explorer's sort menu.
#include <QColor>

#include "platform/ui/Appearance.h"
#include "platform/ui/Image.h"
#include "tandrel/foundation/EnumManager.h"

// The row symbol of the kind, drawn in `tint` whatever the view's own tint; the empty image when
// there is no symbol of that name.
ui::Image file_type_symbol(const QColor& tint, EnumManager::file_icon_kind kind);

// The bold symbol of the sort order, drawn in the palette's foreground colour for the appearance
// (black in light, white in dark; the application's appearance when none is given).
ui::Image sort_menu_image(EnumManager::file_explorer_sorting sorting,
                          const ui::TraitCollection& traits = ui::currentTraitCollection());
