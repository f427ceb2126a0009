#pragma once
// One row of the file explorer's listing as it is drawn: the entry, its title, size text, icon
// kind and colours. The table draws rows from these (no widget per row); the listing model makes
// one for a row when the row is first drawn and keeps it until the next listing.
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "tandrel/foundation/EnumManager.h"
#include "tandrel/foundation/VornServerFilesDataModel.h"

class FileViewTableViewCell {
public:
    static constexpr const char* cell_identifier = "FileViewTableViewCellIdentifier";

    // The row's entry (shared with the listing, not a copy).
    std::shared_ptr<VornServerFileDataModel> fileInfo;

    // The display name: base name and suffix ("README.--" for a name without extension,
    // "img" for a folder, ".htaccess" for a dot-file).
    QString title_lbl;
    // The extension text ("DIR" turns into the empty text at the end; "--" when none).
    QString extension_lbl;
    // The size in the file style ("Zero KB", "1 byte", "12 KB"), empty for a size of -1.
    QString size_lbl;
    EnumManager::file_icon_kind icon_kind = EnumManager::file_icon_kind::other_document;
    // Folders take the folder colour (title and icon); everything else the primary text colour
    // for the title and the accent for the icon.
    bool folder_colour = false;

    // Fills the texts, icon and colours from `fileInfo` (nothing while it is empty): size first,
    // then the title.
    void configure_size();
    void configure_title();
    // The state of a cell taken for another row.
    void prepareForReuse();

    // Icon side length in points: 28 on phones and tablets, 16 on the desktop.
    static int icon_side_length();

    // The platform's file-style byte count: decimal units, "Zero KB", "1 byte", "532 bytes",
    // "12 KB", "1.2 MB", "3.45 GB".
    static QString byte_count_file_style(int64_t bytes);
    // The icon kind for an entry's kind, special role and (lower-cased) extension text.
    static EnumManager::file_icon_kind icon_kind_for(bool is_directory, bool up_one_level, const std::string& extension);
    static bool is_directory(const VornServerFileDataModel& entry);
};
