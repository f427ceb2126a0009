#include "tandrel/foundation/VornServerFilesDataModel.h"

#include <array>
#include <cmath>

#include <QByteArray>

namespace {
constexpr std::array<const char*, 8> kTypeNames = {"NSFileTypeNamedPipe",   "NSFileTypeCharacterSpecial",
                                                   "NSFileTypeDirectory",   "NSFileTypeBlockSpecial",
                                                   "NSFileTypeRegular",     "NSFileTypeSymbolicLink",
                                                   "NSFileTypeSocket",      "NSFileTypeUnknown"};
}

std::string url_file_resource_type_raw(URLFileResourceType t) { return kTypeNames[static_cast<int>(t)]; }

std::optional<URLFileResourceType> url_file_resource_type_from_raw(const std::string& raw) {
    for (size_t i = 0; i < kTypeNames.size(); ++i)
        if (raw == kTypeNames[i]) return static_cast<URLFileResourceType>(i);
    return std::nullopt;
}

OrderedJson VornServerFileDataModel::to_json() const {
    OrderedJson j = OrderedJson::object();
    if (path) j["path"] = *path;
    if (name) j["name"] = *name;
    if (kind) j["kind"] = url_file_resource_type_raw(*kind);
    if (size) j["size"] = *size;
    if (creationDate) j["creationDate"] = jsonable::date_json(*creationDate);
    if (modifiedDate) j["modifiedDate"] = jsonable::date_json(*modifiedDate);
    if (special_assignment) j["special_assignment"] = to_json_value(*special_assignment);
    return j;
}

std::shared_ptr<VornServerFileDataModel> VornServerFileDataModel::from_json(const OrderedJson& j) {
    jsonable::require_object(j, "VornServerFileDataModel");
    auto e = std::make_shared<VornServerFileDataModel>();
    e->path = jsonable::optional_string(j, "path");
    e->name = jsonable::optional_string(j, "name");
    if (auto k = jsonable::optional_string(j, "kind")) {
        e->kind = url_file_resource_type_from_raw(*k);
        if (!e->kind) throw DecodingError("dataCorrupted: unknown file resource type " + *k);
    }
    e->size = jsonable::optional_int(j, "size");
    e->creationDate = jsonable::optional_date(j, "creationDate");
    e->modifiedDate = jsonable::optional_date(j, "modifiedDate");
    if (auto it = j.find("special_assignment"); it != j.end() && !it->is_null())
        e->special_assignment = file_special_assignment_from_json(*it);
    return e;
}

std::shared_ptr<VornServerFileDataModel> VornServerFileDataModel::up_one_level() {
    auto e = std::make_shared<VornServerFileDataModel>();
    e->name = "[UP ONE LEVEL] ..";
    e->path = "../";
    e->kind = URLFileResourceType::directory;
    e->size = 0;
    e->special_assignment = EnumManager::file_special_assignment::up_one_level;
    return e;
}

VornServerFilesDataModel::VornServerFilesDataModel() : id(new_uuid_string()) {}

OrderedJson VornServerFilesDataModel::to_json() const {
    OrderedJson j = OrderedJson::object();
    j["id"] = id;
    if (fileSections) {
        OrderedJson list = OrderedJson::array();
        for (const auto& e : *fileSections) list.push_back(e->to_json());
        j["fileSections"] = std::move(list);
    }
    if (fileCount) j["fileCount"] = *fileCount;
    if (filePacketSize) j["filePacketSize"] = static_cast<double>(*filePacketSize);
    return j;
}

std::shared_ptr<VornServerFilesDataModel> VornServerFilesDataModel::from_json(const OrderedJson& j) {
    jsonable::require_object(j, "VornServerFilesDataModel");
    auto m = std::make_shared<VornServerFilesDataModel>();
    m->id = jsonable::require_string(j, "id");
    if (auto it = j.find("fileSections"); it != j.end() && !it->is_null()) {
        if (!it->is_array()) throw DecodingError("typeMismatch: expected an array for key \"fileSections\"");
        std::vector<std::shared_ptr<VornServerFileDataModel>> list;
        for (const auto& e : *it) list.push_back(VornServerFileDataModel::from_json(e));
        m->fileSections = std::move(list);
    }
    m->fileCount = jsonable::optional_int(j, "fileCount");
    if (auto n = jsonable::optional_number(j, "filePacketSize")) m->filePacketSize = static_cast<float>(*n);
    return m;
}

VornServerFileContentModel::VornServerFileContentModel() : id(new_uuid_string()) {}

bool reads_as_text(const textcodec::DecodedText& read, std::string_view bytes) {
    return read.format.source != textcodec::TextFormat::Source::detected || bytes.find('\0') == std::string_view::npos;
}

std::string file_bucket_id_for_path(const std::string& path) {
    return QByteArray(path.data(), static_cast<qsizetype>(path.size())).toBase64().toStdString();
}

void build_file_content_model(std::optional<std::string> data, const std::optional<VornError>& error,
                              const std::string& file_type, const std::string& path,
                              const std::function<void(std::shared_ptr<VornServerFileContentModel>, std::optional<VornError>)>& completion,
                              const std::optional<std::string>& chosen_encoding) {
    if (error) {
        completion(nullptr, error);
        return;
    }
    if (!data) {
        completion(nullptr, VornError(EnumManager::vorn_error_throws(EnumManager::vorn_error_throws::no_data)));
        return;
    }
    textcodec::DecodedText read = textcodec::decodeText(*data, path, chosen_encoding);
    if (!reads_as_text(read, *data)) {
        completion(nullptr, VornError(EnumManager::vorn_error_throws(EnumManager::vorn_error_throws::not_text)));
        return;
    }
    std::string().swap(*data);
    auto record = std::make_shared<VornServerFileContentModel>();
    record->id = file_bucket_id_for_path(path);
    record->path = path;
    record->contents = std::move(read.utf8);
    record->text_format = std::move(read.format);
    record->lossless = read.lossless;
    record->first_bad_offset = read.firstBadOffset;
    record->file_type = EnumManager::editor_file_types_from_raw(file_type).value_or(EnumManager::editor_file_types::txt);
    completion(record, std::nullopt);
}
