#include "tandrel/foundation/EnumManager.h"

#include <array>
#include <cerrno>
#include <cstdlib>

#include "tandrel/foundation/UserPrefs.h"

namespace {
struct ThemeInfo {
    const char* display;
    const char* path;
};
constexpr std::array<ThemeInfo, 39> kThemes = {{
    {"Chrome", "ace/theme/chrome"},
    {"Clouds (Light)", "ace/theme/clouds"},
    {"Crimson", "ace/theme/crimson_editor"},
    {"Dawn", "ace/theme/dawn"},
    {"Dreamweaver", "ace/theme/dreamweaver"},
    {"Eclipse", "ace/theme/eclipse"},
    {"GitHub", "ace/theme/github"},
    {"IPlastic", "ace/theme/iplastic"},
    {"Solarized (Light)", "ace/theme/solarized_light"},
    {"TextMate", "ace/theme/textmate"},
    {"Tomorrow", "ace/theme/tomorrow"},
    {"Xcode", "ace/theme/xcode"},
    {"Kuroir", "ace/theme/kuroir"},
    {"KatzenMilch", "ace/theme/katzenmilch"},
    {"SQL Server", "ace/theme/sqlserver"},
    {"Ambiance", "ace/theme/ambiance"},
    {"Chaos", "ace/theme/chaos"},
    {"Clouds (Dark)", "ace/theme/clouds_midnight"},
    {"Dracula", "ace/theme/dracula"},
    {"Cobalt", "ace/theme/cobalt"},
    {"GruvBox", "ace/theme/gruvbox"},
    {"Matrix", "ace/theme/gob"},
    {"Idle Fingers", "ace/theme/idle_fingers"},
    {"Kr", "ace/theme/kr_theme"},
    {"Merbivore", "ace/theme/merbivore"},
    {"Merbivore (Soft)", "ace/theme/merbivore_soft"},
    {"Mono Industrial", "ace/theme/mono_industrial"},
    {"Monokai", "ace/theme/monokai"},
    {"Nord", "ace/theme/nord_dark"},
    {"One", "ace/theme/one_dark"},
    {"Pastel", "ace/theme/pastel_on_dark"},
    {"Solarized (Dark)", "ace/theme/solarized_dark"},
    {"Terminal", "ace/theme/terminal"},
    {"Tomorrow (Night)", "ace/theme/tomorrow_night"},
    {"Tomorrow (Blue)", "ace/theme/tomorrow_night_blue"},
    {"Tomorrow (Bright)", "ace/theme/tomorrow_night_bright"},
    {"Tomorrow (80s)", "ace/theme/tomorrow_night_eighties"},
    {"Twilight", "ace/theme/twilight"},
    {"Vibrant InK", "ace/theme/vibrant_ink"},
}};

constexpr std::array<const char*, 5> kConnectionNames = {"unKnown", "notConnected", "ftp", "webDav", "sftp"};
constexpr std::array<const char*, 9> kFileTypes = {"html", "htm", "php", "css", "scss", "sass", "less", "js", "txt"};

// Whole-string base-10 signed integer: optional sign, digits only, no blanks.
std::optional<long long> parseWholeInteger(const std::string& s) {
    if (s.empty()) return std::nullopt;
    size_t i = (s[0] == '+' || s[0] == '-') ? 1 : 0;
    if (i == s.size()) return std::nullopt;
    for (size_t k = i; k < s.size(); ++k)
        if (s[k] < '0' || s[k] > '9') return std::nullopt;
    errno = 0;
    long long v = std::strtoll(s.c_str(), nullptr, 10);
    if (errno == ERANGE) return std::nullopt;
    return v;
}

// The shared reader: the key's text form, a whole number below `bound` (compared unsigned), else 0.
int readBoundedSetting(const char* key, unsigned long long bound) {
    auto text = UserPrefs::user_defaults().stringForKey(key);
    if (!text || text->empty()) return 0;
    auto n = parseWholeInteger(*text);
    if (!n) return 0;
    if (static_cast<unsigned long long>(*n) < bound) return static_cast<int>(*n);
    return 0;
}
}  // namespace

// ---- connection type ---------------------------------------------------------------------

const std::vector<EnumManager::VornConnectionType>& EnumManager::connection_type_all_cases() {
    static const std::vector<VornConnectionType> all = {VornConnectionType::unKnown, VornConnectionType::notConnected,
                                                         VornConnectionType::ftp, VornConnectionType::webDav,
                                                         VornConnectionType::sftp};
    return all;
}

std::string EnumManager::connection_type_name(VornConnectionType t) { return kConnectionNames[static_cast<int>(t)]; }

OrderedJson EnumManager::connection_type_to_json(VornConnectionType t) {
    OrderedJson j = OrderedJson::object();
    j[connection_type_name(t)] = OrderedJson::object();
    return j;
}

EnumManager::VornConnectionType EnumManager::connection_type_from_json(const OrderedJson& j) {
    jsonable::require_object(j, "VornConnectionType");
    std::optional<VornConnectionType> found;
    int recognised = 0;
    for (auto it = j.begin(); it != j.end(); ++it) {
        for (size_t i = 0; i < kConnectionNames.size(); ++i) {
            if (it.key() == kConnectionNames[i]) {
                ++recognised;
                found = static_cast<VornConnectionType>(i);
            }
        }
    }
    if (recognised != 1) throw DecodingError("Invalid number of keys found, expected one.");
    jsonable::require_object(j.at(connection_type_name(*found)), connection_type_name(*found));
    return *found;
}

std::string EnumManager::connection_type_description(VornConnectionType t) {
    auto text = jsonable::toJsonString(connection_type_to_json(t));
    return text ? *text : std::string("not convertible");
}

// ---- themes ------------------------------------------------------------------------------

std::optional<EnumManager::ace_editor_theme> EnumManager::ace_editor_theme_from_raw(int64_t raw) {
    if (raw < 1 || raw > 39) return std::nullopt;
    return static_cast<ace_editor_theme>(raw);
}

const std::vector<EnumManager::ace_editor_theme>& EnumManager::ace_editor_theme_all_cases() {
    static const std::vector<ace_editor_theme> all = [] {
        std::vector<ace_editor_theme> v;
        for (int i = 1; i <= 39; ++i) v.push_back(static_cast<ace_editor_theme>(i));
        return v;
    }();
    return all;
}

std::string EnumManager::display_name(ace_editor_theme t) { return kThemes[static_cast<int>(t) - 1].display; }
std::string EnumManager::ace_path(ace_editor_theme t) { return kThemes[static_cast<int>(t) - 1].path; }

std::vector<EnumManager::ace_editor_theme> EnumManager::light_themes() {
    const auto& all = ace_editor_theme_all_cases();
    return {all.begin(), all.begin() + 15};
}

std::vector<EnumManager::ace_editor_theme> EnumManager::dark_themes() {
    const auto& all = ace_editor_theme_all_cases();
    return {all.begin() + 15, all.end()};
}

// ---- soft wrap, file types, sorting, assignment ------------------------------------------

std::optional<EnumManager::soft_wrap> EnumManager::soft_wrap_from_raw(int64_t raw) {
    if (raw < 1 || raw > 4) return std::nullopt;
    return static_cast<soft_wrap>(raw);
}

const std::vector<EnumManager::soft_wrap>& EnumManager::soft_wrap_all_cases() {
    static const std::vector<soft_wrap> all = {soft_wrap::off_sw, soft_wrap::view_sw, soft_wrap::print_sw, soft_wrap::custom};
    return all;
}

std::optional<EnumManager::editor_file_types> EnumManager::editor_file_types_from_raw(const std::string& raw) {
    for (size_t i = 0; i < kFileTypes.size(); ++i)
        if (raw == kFileTypes[i]) return static_cast<editor_file_types>(i);
    return std::nullopt;
}

std::string EnumManager::raw_value(editor_file_types t) { return kFileTypes[static_cast<int>(t)]; }

std::optional<EnumManager::file_explorer_sorting> EnumManager::file_explorer_sorting_from_raw(int64_t raw) {
    if (raw < 0 || raw > 3) return std::nullopt;
    return static_cast<file_explorer_sorting>(raw);
}

const std::vector<EnumManager::file_explorer_sorting>& EnumManager::file_explorer_sorting_all_cases() {
    static const std::vector<file_explorer_sorting> all = {file_explorer_sorting::name, file_explorer_sorting::kind,
                                                           file_explorer_sorting::size,
                                                           file_explorer_sorting::dateModified};
    return all;
}

std::optional<EnumManager::file_special_assignment> EnumManager::file_special_assignment_from_raw(int64_t raw) {
    if (raw == 0) return file_special_assignment::no_assignment;
    if (raw == 1) return file_special_assignment::up_one_level;
    return std::nullopt;
}

std::string EnumManager::symbol_name(file_icon_kind kind) {
    static constexpr std::array<const char*, 14> names = {
        "folder", "doc.append", "doc.text", "photo", "film", "doc.append", "doc.append",
        "doc", "tablecells", "doc.append", "shippingbox.fill", "speedometer", "arrow.up", "doc.zipper"};
    return names[static_cast<int>(kind)];
}

std::string EnumManager::sort_symbol_name(file_explorer_sorting sorting) {
    static constexpr std::array<const char*, 4> names = {"lineweight", "tag", "textformat.size", "clock"};
    return names[static_cast<int>(sorting)];
}

// ---- errors ------------------------------------------------------------------------------

std::string EnumManager::KeychainError::name() const {
    switch (value) {
        case unexpectedStatus: return "unexpectedStatus(status: " + std::to_string(status) + ")";
        case itemNotFound: return "itemNotFound";
        case duplicateItem: return "duplicateItem";
        case invalidItemFormat: return "invalidItemFormat";
    }
    return "unexpectedStatus";
}

EnumManager::KeychainError::operator VornError() const {
    // No text of its own: the platform's generic wording, like any error value without one.
    return VornError{"KeychainError", static_cast<int64_t>(value),
                     "The operation couldn't be completed. (KeychainError error " + std::to_string(static_cast<int>(value)) + ".)",
                     name()};
}

std::string EnumManager::vorn_error_throws::name() const {
    static constexpr std::array<const char*, 23> names = {
        "invalidCharacterFound", "undeterminedError", "noName", "guardReturnNoFileProvider", "no_data", "no_url",
        "load_url_fail", "cannot_close_session", "cannot_save_ace_file_session", "no_multiple_session",
        "no_webview", "no_file_window", "no_editor_window", "no_doc_int_manager", "update_service_failed",
        "no_permission_no_data", "no_compact_editor", "not_utf8_text", "no_saved_service", "invalid_service_url",
        "unsupported_connection_type", "invalid_item_name", "not_text"};
    return names[static_cast<int>(value)];
}

std::string EnumManager::vorn_error_throws::errorDescription() const {
    switch (value) {
        case invalidCharacterFound: return "Your username can't contain the character '" + character + "'";
        case undeterminedError: return "Sorry. Something went wrong. Please try again";
        case noName: return "The folder name cannot be blank";
        case guardReturnNoFileProvider: return "The service provider could not be connected successfully";
        case no_data: return "No data was returned with that action";
        case no_url: return "No URL was provided";
        case load_url_fail: return "We cannot load that url at the moment";
        case cannot_close_session: return "We cannot close the current session";
        case cannot_save_ace_file_session: return "We cannot save the current file session.";
        case no_multiple_session: return "We cannot save the no_multiple_session.";
        case no_webview: return "We cannot find the connected editor window (WK View)";
        case no_file_window: return "We cannot find the connected server viewer window";
        case no_editor_window: return "We cannot find the connected editor window (EditorView)";
        case no_doc_int_manager: return "We cannot find the connected document manager";
        case update_service_failed: return "We service provider failed to update. Please try again...";
        case no_permission_no_data: return "No data was returned. Please check your login credentials...";
        case no_compact_editor: return "No compact editor was found.";
        case not_utf8_text: return "This file is not UTF-8 text.";
        case no_saved_service: return "That server is no longer among your saved servers.";
        case invalid_service_url: return "The server address is not a valid URL.";
        case unsupported_connection_type: return "This kind of connection is not supported. Please use FTP or WebDAV.";
        case invalid_item_name:
            return "That name cannot be used. A name cannot be empty, \".\" or \"..\", and cannot contain \"/\" or control characters.";
        case not_text: return "This file is not text.";
    }
    return "Sorry. Something went wrong. Please try again";
}

EnumManager::vorn_error_throws::operator VornError() const {
    return VornError{"vorn_error_throws", static_cast<int64_t>(value), errorDescription(), name()};
}

bool EnumManager::is_error(const VornError& error, vorn_error_throws::Case c) {
    return error.is("vorn_error_throws", static_cast<int64_t>(c));
}

// ---- settings readers --------------------------------------------------------------------

int EnumManager::read_mode_appearance() { return readBoundedSetting("MODE_APPEARANCE", 3); }

EnumManager::file_explorer_sorting EnumManager::read_file_explorer_sorting() {
    return static_cast<file_explorer_sorting>(readBoundedSetting("FILEEXPLORER_SORTING", 4));
}

// ---- JSON forms --------------------------------------------------------------------------

OrderedJson to_json_value(EnumManager::ace_editor_theme t) { return static_cast<int64_t>(t); }
OrderedJson to_json_value(EnumManager::soft_wrap t) { return static_cast<int64_t>(t); }
OrderedJson to_json_value(EnumManager::file_special_assignment t) { return static_cast<int64_t>(t); }
OrderedJson to_json_value(EnumManager::editor_file_types t) { return EnumManager::raw_value(t); }

namespace {
int64_t rawInteger(const OrderedJson& j, const char* type) {
    if (j.is_number_integer()) return j.get<int64_t>();
    throw DecodingError(std::string("typeMismatch: expected an integer for ") + type);
}
}  // namespace

EnumManager::ace_editor_theme ace_editor_theme_from_json(const OrderedJson& j) {
    auto v = EnumManager::ace_editor_theme_from_raw(rawInteger(j, "ace_editor_theme"));
    if (!v) throw DecodingError("dataCorrupted: Cannot initialize ace_editor_theme from invalid Int value " + j.dump());
    return *v;
}

EnumManager::soft_wrap soft_wrap_from_json(const OrderedJson& j) {
    auto v = EnumManager::soft_wrap_from_raw(rawInteger(j, "soft_wrap"));
    if (!v) throw DecodingError("dataCorrupted: Cannot initialize soft_wrap from invalid Int value " + j.dump());
    return *v;
}

EnumManager::file_special_assignment file_special_assignment_from_json(const OrderedJson& j) {
    auto v = EnumManager::file_special_assignment_from_raw(rawInteger(j, "file_special_assignment"));
    if (!v) throw DecodingError("dataCorrupted: Cannot initialize file_special_assignment from invalid Int value " + j.dump());
    return *v;
}

EnumManager::editor_file_types editor_file_types_from_json(const OrderedJson& j) {
    if (!j.is_string()) throw DecodingError("typeMismatch: expected a string for editor_file_types");
    auto v = EnumManager::editor_file_types_from_raw(j.get<std::string>());
    if (!v) throw DecodingError("dataCorrupted: Cannot initialize editor_file_types from invalid String value " + j.dump());
    return *v;
}

Expected<std::string> enum_json_string(const OrderedJson& value) { return jsonable::toJsonString(value); }
