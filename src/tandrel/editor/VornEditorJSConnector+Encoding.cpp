// The editor connector and the file's encoding: the format a document is read and written in
// (platform/text), a file that opened read-only because its bytes do not all read, a save refused
// for a character the encoding cannot hold (with the offer to save as UTF-8), and a save in
// another encoding, whose declaration the page then shows changed.
#include <QString>

#include <utility>

#include "platform/defaults/Utf8.h"
#include "platform/files/RemotePath.h"
#include "platform/text/TextEncoding.h"
#include "platform/ui/AlertController.h"
#include "platform/web/WebView.h"
#include "tandrel/editor/DocumentInterfaceHub.h"
#include "tandrel/editor/EditorScripts.h"
#include "tandrel/editor/VornEditorJSConnector.h"
#include "tandrel/editor/VornEditorJSConnectorSupport.h"
#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/foundation/VORNPresenterUtility.h"
#include "tandrel/foundation/VornCurrentEditorStateInfo.h"
#include "tandrel/foundation/VornServerFilesDataModel.h"
#include "tandrel/foundation/VornSessionsDataModel.h"

using editor_support::app_error;
using Err = EnumManager::vorn_error_throws;

namespace {

std::string quoted(const std::string& text) { return "\u201C" + text + "\u201D"; }

std::string shown_name(const std::string& path) { return files::path::forDisplay(files::path::lastComponent(path)); }

// A character as UTF-8, and as U+XXXX.
std::string utf8_of(char32_t c) { return QString::fromUcs4(&c, 1).toStdString(); }

std::string code_point(char32_t c) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(c));
    return buffer;
}

// Where a byte offset of the text stands as the page counts: its row, and its column in UTF-16
// units (lines end at LF, CR LF or CR, as the page's editor splits them).
struct PagePosition {
    std::size_t row = 0;
    std::size_t column = 0;
};

std::size_t utf16_units(std::string_view text) {
    std::size_t units = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = std::max<std::size_t>(1, defaults::utf8SequenceLength(text, i));
        units += n == 4 ? 2 : 1;
        i += n;
    }
    return units;
}

PagePosition page_position(std::string_view text, std::size_t offset) {
    PagePosition at;
    std::size_t line_start = 0;
    for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
        if (text[i] == '\n' || (text[i] == '\r' && !(i + 1 < text.size() && text[i + 1] == '\n'))) {
            ++at.row;
            line_start = i + 1;
        }
    }
    at.column = utf16_units(text.substr(line_start, offset - line_start));
    return at;
}

}  // namespace

void VornEditorJSConnector::apply_text_format(const std::string& session_id, const textcodec::TextFormat& format, bool lossy,
                                              std::optional<std::size_t> first_bad) {
    if (auto record = find_file_session(session_id)) record->text_format = format;
    auto* h = hub();
    if (!h) return;
    auto& info = h->current_editor_info();
    if (info.file_bucket_id && *info.file_bucket_id != session_id) return;
    info.text_format = format;
    info.text_lossy = lossy;
    info.first_bad_offset = lossy ? first_bad : std::nullopt;
    if (web_view) run_editor_js(editor_script::set_read_only(lossy));
    h->text_format_changed();
}

void VornEditorJSConnector::tell_lossy(const std::string& path, const textcodec::TextFormat& format,
                                       std::optional<std::size_t> first_bad) {
    auto* h = hub();
    auto* screen = h ? h->editor_screen(is_compact) : nullptr;
    QPointer<ui::ViewController> presenter = screen ? screen->editor_view_controller() : nullptr;
    const std::string message =
        "Some bytes of " + quoted(shown_name(path)) +
        (first_bad ? " (the first at byte " + std::to_string(*first_bad) + ")" : std::string()) + " do not read as " +
        textcodec::displayName(format.encoding) +
        ". So that none of them is lost, the file is read-only here. Choose an encoding that holds every byte with "
        "Reopen with Encoding.";
    AMZLogger::shared().log_info(path + " opened read-only: its bytes do not all read as " + format.encoding);
    VORNPresenterUtility::present_on_main(presenter, [presenter, message](bool ready) {
        VORNPresenterUtility::present_action_alert(ready, kLossyTitle, message, "OK", nullptr, presenter);
    });
}

void VornEditorJSConnector::reopen_session(std::shared_ptr<VornServerFileContentModel> content, ErrorCompletion completion) {
    if (!content) {
        if (completion) completion(app_error(Err::no_data));
        return;
    }
    // The text read anew replaces the page's: what was kept of the old one, and its counts, go.
    forget_kept_text(content->id);
    reported_states_.erase(content->id);
    page_counts_[content->id] = PageCount{0, true};
    ++reopen_counts_[content->id];
    QPointer<VornEditorJSConnector> self(this);
    open_session(nullptr, content, [self, completion](std::optional<VornError> e) {
        if (!e && self) self->set_has_changes(false);
        if (completion) completion(e);
    });
}

void VornEditorJSConnector::save_in_encoding(const std::string& encoding, SaveCompletion completion) {
    const auto name = textcodec::canonicalEncoding(encoding);
    if (!name) {
        if (completion) completion(false, std::nullopt);
        return;
    }
    save_encoding_ = *name;
    save_current_file(std::move(completion));
}

std::optional<std::string> VornEditorJSConnector::bytes_to_write(const std::string& file_id, std::string text,
                                                                 SaveCompletion& completion, bool& asked) {
    asked = false;
    auto record = find_file_session(file_id);
    const textcodec::TextFormat format = record && record->text_format ? *record->text_format : textcodec::TextFormat{};
    auto encoded = textcodec::encodeText(text, format);
    if (auto* bytes = std::get_if<std::string>(&encoded)) return std::move(*bytes);
    const auto refused = std::get<textcodec::Unencodable>(encoded);

    const std::string path = record ? record->file_path : std::string();
    const auto declaration = textcodec::findDeclaration(text, path);
    const std::string message =
        quoted(utf8_of(refused.character)) + " (" + code_point(refused.character) + ") on line " + std::to_string(refused.line) +
        " cannot be saved in " + textcodec::displayName(format.encoding) + ". Nothing was sent to the server.\n\nSave " +
        quoted(shown_name(path)) + " as UTF-8 instead?" +
        (declaration ? " Its declaration " + quoted(declaration->label) + " is changed to " + quoted("UTF-8") +
                           " in the text, where you see it."
                     : std::string());
    AMZLogger::shared().log_info("not saved: " + code_point(refused.character) + " on line " + std::to_string(refused.line) +
                                 " of " + path + " has no bytes in " + format.encoding);
    auto* h = hub();
    auto* screen = h ? h->editor_screen(is_compact) : nullptr;
    QPointer<ui::ViewController> presenter = screen ? screen->editor_view_controller() : nullptr;
    if (!presenter) {
        // Nobody to ask: the text is not written in another encoding unasked.
        auto error = VornError::cocoa(4, message.substr(0, message.find("\n\n")) + " It was not saved.", "unencodable_text");
        error.told = false;
        if (completion) completion(false, error);
        asked = true;
        return std::nullopt;
    }
    QPointer<VornEditorJSConnector> self(this);
    textcodec::TextFormat as_utf8 = format;
    as_utf8.encoding = "UTF-8";
    as_utf8.bom = false;
    as_utf8.source = textcodec::TextFormat::Source::chosen;
    auto answer = [self, file_id, as_utf8, completion](bool utf8) {
        // "Cancel": nothing written, the text stays in the window, unsaved.
        if (!self || !utf8) {
            if (completion) completion(false, std::nullopt);
            return;
        }
        self->switch_format_and_write(file_id, as_utf8, completion);
    };
    VORNPresenterUtility::present_on_main(presenter, [presenter, message, answer](bool ready) {
        if (!ready) return answer(false);
        VORNPresenterUtility::present_actions_alert(
            ready, kUnencodableTitle, message,
            {{kSaveAsUtf8, ui::AlertActionStyle::default_, true}, {"Cancel", ui::AlertActionStyle::cancel, false}}, answer,
            presenter);
    });
    asked = true;
    return std::nullopt;
}

void VornEditorJSConnector::switch_format_and_write(const std::string& file_id, textcodec::TextFormat format,
                                                    SaveCompletion completion) {
    auto done = [completion](bool written, std::optional<VornError> e) {
        if (completion) completion(written, e);
    };
    auto record = find_file_session(file_id);
    if (!record) return done(false, app_error(Err::cannot_save_ace_file_session));
    const std::string text = editor_support::session_value(record->json).value_or(std::string());
    const auto declaration = textcodec::findDeclaration(text, record->file_path);
    const bool renamed = declaration && textcodec::canonicalEncoding(declaration->label) != format.encoding;
    // The new encoding must hold the text (its new declaration included) before anything changes.
    const textcodec::TextFormat old_format = record->text_format.value_or(textcodec::TextFormat{});
    record->text_format = format;
    std::string trial = renamed ? textcodec::withDeclaration(text, record->file_path, format.encoding) : text;
    SaveCompletion ask_completion = completion;
    bool asked = false;
    if (!bytes_to_write(file_id, std::move(trial), ask_completion, asked)) {
        record->text_format = old_format;
        return;
    }
    format.declared = declaration ? (renamed ? format.encoding : declaration->label) : std::string();
    auto* h = hub();
    const bool lossy = h && h->current_editor_info().text_lossy;
    apply_text_format(file_id, format, lossy, h ? h->current_editor_info().first_bad_offset : std::nullopt);
    AMZLogger::shared().log_info(record->file_path + " is saved in " + format.encoding + " from now on");
    QPointer<VornEditorJSConnector> self(this);
    if (!renamed) return write_page_session(file_id, done);
    // The declaration names the new encoding: an edit in the page, which the user sees and the
    // write below reads back with the rest of the text.
    const PagePosition at = page_position(text, declaration->offset);
    run_editor_js(editor_script::replace_text(file_id, at.row, at.column, utf16_units(declaration->label), format.encoding),
                  [self, file_id, done](nlohmann::json, std::optional<VornError> e) {
                      if (!self) return done(false, std::nullopt);
                      if (e) return done(false, e);
                      self->write_page_session(file_id, done);
                  });
}
