#include "tandrel/foundation/VornSessionsDataModel.h"

#include <type_traits>
#include <utility>

#include "platform/files/RemotePath.h"
#include "tandrel/foundation/TandrelExtensions.h"
#include "tandrel/foundation/VornDocumentBase.h"
#include "tandrel/foundation/VornServerFilesDataModel.h"

VornACEFileSessionsDataModel::VornACEFileSessionsDataModel() : opened(Date::now()) {}

OrderedJson server_version_to_json(const files::FileVersion& v) {
    OrderedJson j = OrderedJson::object();
    if (!v.etag.empty()) j["etag"] = v.etag;
    if (!v.lastModified.empty()) j["last_modified"] = v.lastModified;
    if (v.modificationDate) {
        j["modified_ms"] = std::chrono::duration_cast<std::chrono::milliseconds>(v.modificationDate->time_since_epoch()).count();
    }
    if (v.size >= 0) j["size"] = v.size;
    if (!v.sha256.empty()) j["sha256"] = v.sha256;
    return j;
}

files::FileVersion server_version_from_json(const OrderedJson& j) {
    files::FileVersion v;
    if (!j.is_object()) return v;
    try {
        v.etag = jsonable::optional_string(j, "etag").value_or("");
        v.lastModified = jsonable::optional_string(j, "last_modified").value_or("");
        if (auto ms = jsonable::optional_int(j, "modified_ms")) {
            v.modificationDate = std::chrono::system_clock::time_point(std::chrono::milliseconds(*ms));
        }
        v.size = jsonable::optional_int(j, "size").value_or(-1);
        v.sha256 = jsonable::optional_string(j, "sha256").value_or("");
    } catch (const DecodingError&) {
        return {};
    }
    return v;
}

namespace {
using LineEnding = textcodec::TextFormat::LineEnding;
using Source = textcodec::TextFormat::Source;
constexpr std::pair<LineEnding, const char*> kLineEndings[] = {
    {LineEnding::lf, "lf"}, {LineEnding::crlf, "crlf"}, {LineEnding::cr, "cr"}, {LineEnding::mixed, "mixed"}};
constexpr std::pair<Source, const char*> kSources[] = {{Source::bom, "bom"},
                                                       {Source::declaration, "declaration"},
                                                       {Source::utf8Valid, "utf8_valid"},
                                                       {Source::detected, "detected"},
                                                       {Source::chosen, "chosen"}};
}  // namespace

OrderedJson text_format_to_json(const textcodec::TextFormat& format) {
    OrderedJson j = OrderedJson::object();
    j["encoding"] = format.encoding;
    j["bom"] = format.bom;
    for (const auto& [ending, name] : kLineEndings)
        if (ending == format.lineEnding) j["line_ending"] = name;
    if (!format.declared.empty()) j["declared"] = format.declared;
    for (const auto& [source, name] : kSources)
        if (source == format.source) j["source"] = name;
    return j;
}

std::optional<textcodec::TextFormat> text_format_from_json(const OrderedJson& j) {
    if (!j.is_object()) return std::nullopt;
    auto string_of = [&j](const char* key) -> std::string {
        const auto it = j.find(key);
        return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
    };
    textcodec::TextFormat format;
    // A name another build wrote as a label still reads; one this build cannot write counts as none.
    const auto encoding = textcodec::canonicalEncoding(string_of("encoding"));
    if (!encoding) return std::nullopt;
    format.encoding = *encoding;
    if (const auto it = j.find("bom"); it != j.end() && it->is_boolean()) format.bom = it->get<bool>();
    const std::string ending = string_of("line_ending");
    for (const auto& [value, name] : kLineEndings)
        if (ending == name) format.lineEnding = value;
    format.declared = string_of("declared");
    const std::string source = string_of("source");
    for (const auto& [value, name] : kSources)
        if (source == name) format.source = value;
    return format;
}

namespace {
// A session's JSON object: its texts copied from a session that stays, moved out of one that goes.
template <class Session>
OrderedJson session_json(Session&& s) {
    OrderedJson j = OrderedJson::object();
    j["session_id"] = std::forward<Session>(s).session_id;
    j["file_path"] = std::forward<Session>(s).file_path;
    j["mime_type"] = std::forward<Session>(s).mime_type;
    j["json"] = std::forward<Session>(s).json;
    j["ace_language"] = std::forward<Session>(s).ace_language;
    j["undo_count"] = s.undo_count;
    j["opened"] = jsonable::date_json(s.opened);
    if (!s.leftover_copies.empty()) j["leftover_copies"] = s.leftover_copies;
    // Written only when set: the files of sessions of files that are there stay as they were.
    if (s.removed_from_server) j["removed_from_server"] = true;
    if (!s.server_version.empty()) j["server_version"] = server_version_to_json(s.server_version);
    if (s.text_format) j["text_format"] = text_format_to_json(*s.text_format);
    return j;
}

// The record's JSON object, each session's as above.
template <class Record>
OrderedJson sessions_json(Record&& record) {
    OrderedJson list = OrderedJson::array();
    for (const auto& s : record.ace_file_sessions) {
        if constexpr (std::is_const_v<std::remove_reference_t<Record>>) list.push_back(s->to_json());
        else list.push_back(s->take_json());
    }
    OrderedJson j = OrderedJson::object();
    j["service_id"] = record.service_id;
    j["ace_file_sessions"] = std::move(list);
    return j;
}
}  // namespace

OrderedJson VornACEFileSessionsDataModel::to_json() const { return session_json(*this); }

OrderedJson VornACEFileSessionsDataModel::take_json() { return session_json(std::move(*this)); }

std::shared_ptr<VornACEFileSessionsDataModel> VornACEFileSessionsDataModel::from_json(const OrderedJson& j) {
    jsonable::require_object(j, "VornACEFileSessionsDataModel");
    auto s = std::make_shared<VornACEFileSessionsDataModel>();
    s->session_id = jsonable::require_string(j, "session_id");
    s->file_path = jsonable::require_string(j, "file_path");
    s->mime_type = jsonable::require_string(j, "mime_type");
    s->json = jsonable::require_string(j, "json");
    s->ace_language = jsonable::require_string(j, "ace_language");
    s->undo_count = jsonable::require_int(j, "undo_count");
    s->opened = jsonable::require_date(j, "opened");
    if (auto copies = j.find("leftover_copies"); copies != j.end() && copies->is_array()) {
        for (const auto& copy : *copies) {
            if (copy.is_string()) s->leftover_copies.push_back(copy.get<std::string>());
        }
    }
    // Optional: files written before the mark existed have none.
    if (auto it = j.find("removed_from_server"); it != j.end() && it->is_boolean()) s->removed_from_server = it->get<bool>();
    if (auto it = j.find("server_version"); it != j.end()) s->server_version = server_version_from_json(*it);
    if (auto it = j.find("text_format"); it != j.end()) s->text_format = text_format_from_json(*it);
    return s;
}

std::shared_ptr<VornACEFileSessionsDataModel> VornACEFileSessionsDataModel::clone() const {
    return std::make_shared<VornACEFileSessionsDataModel>(*this);
}

OrderedJson VornAppMultipleSessionsDataModel::to_json() const { return sessions_json(*this); }

OrderedJson VornAppMultipleSessionsDataModel::take_json() { return sessions_json(*this); }

std::shared_ptr<VornAppMultipleSessionsDataModel> VornAppMultipleSessionsDataModel::from_json(const OrderedJson& j) {
    jsonable::require_object(j, "VornAppMultipleSessionsDataModel");
    auto m = std::make_shared<VornAppMultipleSessionsDataModel>();
    m->service_id = jsonable::require_string(j, "service_id");
    const auto& list = jsonable::require(j, "ace_file_sessions");
    if (!list.is_array()) throw DecodingError("typeMismatch: expected an array for key \"ace_file_sessions\"");
    for (const auto& e : list) m->ace_file_sessions.push_back(VornACEFileSessionsDataModel::from_json(e));
    return m;
}

std::shared_ptr<VornAppMultipleSessionsDataModel> VornAppMultipleSessionsDataModel::clone() const {
    auto copy = std::make_shared<VornAppMultipleSessionsDataModel>();
    copy->service_id = service_id;
    for (const auto& s : ace_file_sessions) copy->ace_file_sessions.push_back(s->clone());
    return copy;
}

// ---- remote moves --------------------------------------------------------------------------------

std::optional<std::string> moved_remote_path(const std::string& path, const std::string& from, const std::string& to) {
    const std::string f = files::path::normalize(from);
    if (f == "/" || !files::path::isSameOrInside(path, f)) return std::nullopt;  // the root itself never moves
    return files::path::normalize(to) + files::path::normalize(path).substr(f.size());
}

bool VornACEFileSessionsDataModel::follow_move(const std::string& from, const std::string& to) {
    auto moved = moved_remote_path(file_path, from, to);
    if (!moved) return false;
    file_path = *moved;
    session_id = file_bucket_id_for_path(file_path);
    mime_type = mime_type_for_url(file_path);
    // The page rebuilds a session from this state under the id and path written in it.
    auto state = OrderedJson::parse(json, nullptr, false);
    if (state.is_object()) {
        state["session_id"] = session_id;
        if (state.contains("file_path")) state["file_path"] = file_path;
        try {
            json = state.dump();
        } catch (const OrderedJson::exception&) {
            // Text that is not UTF-8 cannot be written back: the state stays as the page gave it.
        }
    }
    return true;
}
