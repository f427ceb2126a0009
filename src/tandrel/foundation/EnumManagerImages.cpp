#include "tandrel/foundation/EnumManagerImages.h"

#include "tandrel/foundation/XCol.h"

ui::Image file_type_symbol(const QColor& tint, EnumManager::file_icon_kind kind) {
    const ui::Image image = ui::Image::systemImage(QString::fromStdString(EnumManager::symbol_name(kind)));
    if (image.isNull()) return image;
    return image.withTintColor(tint, ui::RenderingMode::alwaysOriginal);
}

ui::Image sort_menu_image(EnumManager::file_explorer_sorting sorting, const ui::TraitCollection& traits) {
    ui::SymbolConfiguration bold;
    bold.weight = ui::SymbolWeight::bold;
    const ui::Image image =
        ui::Image::systemImage(QString::fromStdString(EnumManager::sort_symbol_name(sorting)), bold);
    if (image.isNull()) return image;
    return image.withTintColor(XCol::foreground().resolvedColor(traits), ui::RenderingMode::alwaysOriginal);
}
