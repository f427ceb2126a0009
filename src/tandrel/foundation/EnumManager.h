#pragma once
// The app's shared value types: connection types, editor themes and soft-wrap modes, editable file
// types, the explorer's sort order, listing-entry roles, row icon kinds and the two error
// enumerations; and the readers of the appearance and sort settings.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tandrel/foundation/Jsonable.h"

struct EnumManager {
    // ---- connection type: {"ftp":{}} and so on -------------------------------------------
    enum class VornConnectionType { unKnown, notConnected, ftp, webDav, sftp };
    static const std::vector<VornConnectionType>& connection_type_all_cases();
    static std::string connection_type_name(VornConnectionType t);
    static OrderedJson connection_type_to_json(VornConnectionType t);
    // Throws DecodingError ("Invalid number of keys found, expected one." for zero or several keys).
    static VornConnectionType connection_type_from_json(const OrderedJson& j);
    static std::string connection_type_description(VornConnectionType t);

    // ---- editor themes, raw values 1 to 39 ------------------------------------------------
    enum class ace_editor_theme {
        chrome = 1, clouds_light, crimson, dawn, dreamweaver, eclipse, github, iplastic, solarized_light,
        textmate, tomorrow, xcode, kuroir, katzenmilch, sql_server, ambiance, chaos, clouds_dark, dracula,
        cobalt, gruvbox, matrix, idle_fingers, kr, merbivore, merbivore_soft, mono_industrial, monokai, nord,
        one, pastel, solarized_dark, terminal, tomorrow_night, tomorrow_night_blue, tomorrow_night_bright,
        tomorrow_night_80s, twilight, vibrant_ink
    };
    static std::optional<ace_editor_theme> ace_editor_theme_from_raw(int64_t raw);
    static const std::vector<ace_editor_theme>& ace_editor_theme_all_cases();
    static std::string display_name(ace_editor_theme t);
    static std::string ace_path(ace_editor_theme t);
    static std::vector<ace_editor_theme> light_themes();
    static std::vector<ace_editor_theme> dark_themes();

    // ---- soft wrap, raw values 1 to 4 -----------------------------------------------------
    enum class soft_wrap { off_sw = 1, view_sw, print_sw, custom };
    static std::optional<soft_wrap> soft_wrap_from_raw(int64_t raw);
    static const std::vector<soft_wrap>& soft_wrap_all_cases();

    // ---- editable file types --------------------------------------------------------------
    enum class editor_file_types { html, htm, php, css, scss, sass, less, js, txt };
    static std::optional<editor_file_types> editor_file_types_from_raw(const std::string& raw);
    static std::string raw_value(editor_file_types t);

    // ---- explorer sort order: 0 to 3 ------------------------------------------------------
    enum class file_explorer_sorting { name = 0, kind, size, dateModified };
    static std::optional<file_explorer_sorting> file_explorer_sorting_from_raw(int64_t raw);
    static const std::vector<file_explorer_sorting>& file_explorer_sorting_all_cases();

    // ---- special role of a listing entry --------------------------------------------------
    enum class file_special_assignment { no_assignment = 0, up_one_level = 1 };
    static std::optional<file_special_assignment> file_special_assignment_from_raw(int64_t raw);

    // ---- listing row icons ----------------------------------------------------------------
    enum class file_icon_kind {
        folder, source_code, text_document, image, video, stylesheet, script, other_document, property_list,
        header, package, archive, up_one_level, zipped
    };
    static std::string symbol_name(file_icon_kind kind);
    static std::string sort_symbol_name(file_explorer_sorting sorting);

    // ---- keychain failures ----------------------------------------------------------------
    struct KeychainError {
        enum Case { unexpectedStatus, itemNotFound, duplicateItem, invalidItemFormat };
        Case value;
        int32_t status = 0;  // for unexpectedStatus
        KeychainError(Case c, int32_t s = 0) : value(c), status(s) {}
        std::string name() const;
        operator VornError() const;
    };

    // ---- the app's error values -----------------------------------------------------------
    struct vorn_error_throws {
        enum Case {
            invalidCharacterFound, undeterminedError, noName, guardReturnNoFileProvider, no_data, no_url,
            load_url_fail, cannot_close_session, cannot_save_ace_file_session, no_multiple_session, no_webview,
            no_file_window, no_editor_window, no_doc_int_manager, update_service_failed, no_permission_no_data,
            no_compact_editor,
            // Added: a downloaded file whose bytes are not UTF-8 text (opening it as empty text
            // and saving would wipe the remote file).
            not_utf8_text,
            // Added: connecting a saved server that is no longer saved, or whose address is not a
            // URL, or whose connection type has no connector; a new item name that cannot be used.
            no_saved_service, invalid_service_url, unsupported_connection_type, invalid_item_name,
            // Added: a downloaded file that no BOM, declaration or UTF-8 names as text and that
            // holds zero bytes (an image, an archive): it is not opened as text.
            not_text,
        };
        Case value;
        std::string character;  // for invalidCharacterFound
        vorn_error_throws(Case c) : value(c) {}
        static vorn_error_throws invalid_character(std::string c) {
            vorn_error_throws e(invalidCharacterFound);
            e.character = std::move(c);
            return e;
        }
        std::string name() const;
        std::string errorDescription() const;
        operator VornError() const;
    };
    static bool is_error(const VornError& error, vorn_error_throws::Case c);

    // ---- settings readers -----------------------------------------------------------------
    // "MODE_APPEARANCE": 0 follow the system, 1 dark, 2 light; anything unreadable is 0.
    static int read_mode_appearance();
    // "FILEEXPLORER_SORTING": 0 to 3; anything else is `name`.
    static file_explorer_sorting read_file_explorer_sorting();
};

// JSON forms of the enumerations that are written on their own or inside records.
OrderedJson to_json_value(EnumManager::ace_editor_theme t);
OrderedJson to_json_value(EnumManager::soft_wrap t);
OrderedJson to_json_value(EnumManager::file_special_assignment t);
OrderedJson to_json_value(EnumManager::editor_file_types t);
// Each throws DecodingError for a value of the wrong type or a raw value with no case.
EnumManager::ace_editor_theme ace_editor_theme_from_json(const OrderedJson& j);
EnumManager::soft_wrap soft_wrap_from_json(const OrderedJson& j);
EnumManager::file_special_assignment file_special_assignment_from_json(const OrderedJson& j);
EnumManager::editor_file_types editor_file_types_from_json(const OrderedJson& j);

// A single enumeration value converted on its own (its description).
Expected<std::string> enum_json_string(const OrderedJson& value);
