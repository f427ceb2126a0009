#include "tandrel/servers/FileViewTableViewCell.h"

#include <QLocale>
#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <string_view>

#include "platform/ui/Idiom.h"
#include "tandrel/foundation/TandrelExtensions.h"

namespace {

bool one_of(const std::string& value, std::initializer_list<std::string_view> list) {
    return std::find(list.begin(), list.end(), std::string_view(value)) != list.end();
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// "1.20" -> "1.2", "3.00" -> "3".
QString trimmed_number(double value, int decimals) {
    QString text = QString::number(value, 'f', decimals);
    if (text.contains(QLatin1Char('.'))) {
        while (text.endsWith(QLatin1Char('0'))) text.chop(1);
        if (text.endsWith(QLatin1Char('.'))) text.chop(1);
    }
    return text;
}

}  // namespace

QString FileViewTableViewCell::byte_count_file_style(int64_t bytes) {
    if (bytes == 0) return QStringLiteral("Zero KB");
    const int64_t magnitude = bytes < 0 ? -bytes : bytes;
    const QString sign = bytes < 0 ? QStringLiteral("-") : QString();
    if (magnitude == 1) return sign + QStringLiteral("1 byte");
    if (magnitude < 1000) return sign + QString::number(magnitude) + QStringLiteral(" bytes");
    // KB without decimals, MB with one, larger units with two; a value that rounds up to 1000
    // is written in the next unit.
    static constexpr std::array<const char*, 6> units = {"KB", "MB", "GB", "TB", "PB", "EB"};
    static constexpr std::array<int, 6> decimals = {0, 1, 2, 2, 2, 2};
    double value = static_cast<double>(magnitude) / 1000.0;
    size_t unit = 0;
    for (;;) {
        const double scale = std::pow(10.0, decimals[unit]);
        const double rounded = std::round(value * scale) / scale;
        if (rounded < 1000.0 || unit + 1 == units.size()) {
            return sign + trimmed_number(rounded, decimals[unit]) + QLatin1Char(' ') + QLatin1String(units[unit]);
        }
        value /= 1000.0;
        ++unit;
    }
}

bool FileViewTableViewCell::is_directory(const VornServerFileDataModel& entry) {
    return entry.kind && *entry.kind == URLFileResourceType::directory;
}

EnumManager::file_icon_kind FileViewTableViewCell::icon_kind_for(bool directory, bool up_one_level,
                                                                 const std::string& extension) {
    using K = EnumManager::file_icon_kind;
    if (directory) return up_one_level ? K::up_one_level : K::folder;
    const std::string ext = lower(extension);
    if (one_of(ext, {"htm", "html", "php", "asp", "swift"})) return K::source_code;
    if (one_of(ext, {"txt", "md"})) return K::text_document;
    if (one_of(ext, {"jpg", "png", "jpeg", "tif", "tiff", "gif"})) return K::image;
    if (one_of(ext, {"avi", "mp4", "mov", "wmv", "avchd", "flv", "f4v", "swf", "mkv", "webm", "mpeg"})) return K::video;
    if (ext == "css") return K::stylesheet;
    if (ext == "js") return K::script;
    if (ext == "plist") return K::property_list;
    if (ext == "h") return K::header;
    if (one_of(ext, {"xcassets", "podspec"})) return K::package;
    if (one_of(ext, {".ftpquota", "arc", "arj", "as", "b64", "btoa", "bz", "cab", "cpt", "gz", "hqx", "iso", "lha",
                     "lzh", "mim", "mme", "pak", "pf", "rar", "rpm", "sea", "sit", "sitx", "tar.gz", "tbz", "tbz2",
                     "tgz", "uu", "uue", "z", "zip", "zipx", "zoo"}))
        return K::archive;
    return K::other_document;
}

int FileViewTableViewCell::icon_side_length() {
    const ui::Idiom idiom = ui::userInterfaceIdiom();
    return (idiom == ui::Idiom::phone || idiom == ui::Idiom::pad) ? 28 : 16;
}

void FileViewTableViewCell::prepareForReuse() {
    title_lbl.clear();
    size_lbl.clear();
    folder_colour = false;
}

void FileViewTableViewCell::configure_size() {
    if (!fileInfo) return;
    if (!fileInfo->size) {
        size_lbl = byte_count_file_style(0);
    } else if (*fileInfo->size == -1) {
        size_lbl.clear();
    } else {
        size_lbl = byte_count_file_style(*fileInfo->size);
    }
    configure_title();
}

void FileViewTableViewCell::configure_title() {
    if (!fileInfo) return;
    const std::string name = fileInfo->name ? *fileInfo->name : std::string("(No Name)");
    std::string extension = path_extension(name);
    std::string base = extension.empty() ? name : name.substr(0, name.size() - extension.size() - 1);
    const bool directory = is_directory(*fileInfo);

    if (extension.empty()) extension = "--";
    if (directory) extension = "DIR";
    std::string suffix = "." + extension;
    if (!base.empty() && base.front() == '.') {  // a dot-file: the whole name is its own kind
        extension = name;
        suffix.clear();
    }
    folder_colour = extension == "DIR";
    if (folder_colour) {
        extension.clear();
        suffix.clear();
    }

    const bool up = fileInfo->special_assignment &&
                    *fileInfo->special_assignment == EnumManager::file_special_assignment::up_one_level;
    icon_kind = icon_kind_for(directory, up, extension);
    extension_lbl = QString::fromStdString(extension);
    title_lbl = QString::fromStdString(base + suffix);
}
