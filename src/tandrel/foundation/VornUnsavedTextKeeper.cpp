#include "tandrel/foundation/VornUnsavedTextKeeper.h"

#include <QCryptographicHash>
#include <algorithm>
#include <cerrno>

#include <nlohmann/json.hpp>

#include "platform/defaults/AtomicFile.h"
#include "platform/dispatch/ExitDrain.h"
#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/foundation/JsonScan.h"
#include "tandrel/foundation/VornAppUrlUtility.h"
#include "tandrel/foundation/VornSessionsDataModel.h"

namespace fs = std::filesystem;

// ---- a kept document ----------------------------------------------------------------------------

std::optional<std::string> VornKeptDocument::text() const {
    auto state_members = json_scan::object_strings(state, {"value"});
    if (state_members.shape != json_scan::Shape::object) return std::nullopt;
    return std::move(state_members.strings[0]);
}

std::optional<int64_t> VornKeptDocument::page_count() const {
    const auto members = json_scan::object_strings(state, {"undo_count"});
    if (members.shape != json_scan::Shape::object || !members.raw[0]) return std::nullopt;
    const auto count = nlohmann::json::parse(*members.raw[0], nullptr, false);
    if (!count.is_number_integer()) return std::nullopt;
    return count.get<int64_t>();
}

// ---- the keeper ---------------------------------------------------------------------------------

VornUnsavedTextKeeper::VornUnsavedTextKeeper() = default;

VornUnsavedTextKeeper& VornUnsavedTextKeeper::shared() {
    static VornUnsavedTextKeeper* keeper = [] {
        auto* made = new VornUnsavedTextKeeper;
        // The latest text asked to be kept is on disk before the process goes, and so is the
        // removal that a discard asked for just before a quit.
        new dispatch::ExitDrain(made->queue.label(), dispatch::queueDrain(made->queue));
        return made;
    }();
    return *keeper;
}

std::string VornUnsavedTextKeeper::file_name(const std::string& service_id, const std::string& session_id) {
    QCryptographicHash digest(QCryptographicHash::Sha256);
    digest.addData(QByteArrayView(service_id.data(), static_cast<qsizetype>(service_id.size())));
    digest.addData(QByteArrayView("\0", 1));
    digest.addData(QByteArrayView(session_id.data(), static_cast<qsizetype>(session_id.size())));
    return digest.result().toHex().left(40).toStdString() + ".json";
}

std::optional<fs::path> VornUnsavedTextKeeper::current_folder() const {
    if (folder) return folder;
    auto base = VornAppUrlUtility::base_url();
    if (!base) return std::nullopt;
    return *base / kFolderName;
}

std::optional<fs::path> VornUnsavedTextKeeper::file_for(const std::string& service_id,
                                                        const std::string& session_id) const {
    auto where = current_folder();
    if (!where) return std::nullopt;
    return *where / file_name(service_id, session_id);
}

std::string VornUnsavedTextKeeper::encode(VornKeptDocument&& document) {
    nlohmann::ordered_json j;
    j["service_id"] = std::move(document.service_id);
    j["session_id"] = std::move(document.session_id);
    j["file_path"] = std::move(document.file_path);
    j["server_name"] = std::move(document.server_name);
    j["saved_count"] = document.saved_count;
    j["state"] = std::move(document.state);
    if (!document.server_version.empty()) j["server_version"] = server_version_to_json(document.server_version);
    if (document.text_format) j["text_format"] = text_format_to_json(*document.text_format);
    if (document.base) j["base"] = document.base->to_json();
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<VornKeptDocument> VornUnsavedTextKeeper::decode(const std::string& text) {
    auto j = nlohmann::ordered_json::parse(text, nullptr, false);
    if (!j.is_object()) return std::nullopt;
    auto text_of = [&j](const char* key) -> std::optional<std::string> {
        auto it = j.find(key);
        if (it == j.end() || !it->is_string()) return std::nullopt;
        return std::move(it->get_ref<std::string&>());
    };
    VornKeptDocument document;
    auto service = text_of("service_id");
    auto session = text_of("session_id");
    auto state = text_of("state");
    if (!service || service->empty() || !session || session->empty() || !state) return std::nullopt;
    document.service_id = std::move(*service);
    document.session_id = std::move(*session);
    document.state = std::move(*state);
    document.file_path = text_of("file_path").value_or(std::string());
    document.server_name = text_of("server_name").value_or(std::string());
    if (auto it = j.find("saved_count"); it != j.end() && it->is_number_integer()) {
        document.saved_count = it->get<int64_t>();
    }
    if (auto it = j.find("server_version"); it != j.end()) document.server_version = server_version_from_json(*it);
    if (auto it = j.find("text_format"); it != j.end()) document.text_format = text_format_from_json(*it);
    if (auto it = j.find("base"); it != j.end()) document.base = VornDocumentBase::from_json(*it);
    // The state must hold the text: a state without it restores nothing.
    if (!document.text()) return std::nullopt;
    return document;
}

void VornUnsavedTextKeeper::keep(VornKeptDocument document, std::function<void(std::optional<VornError>)> done) {
    auto target = file_for(document.service_id, document.session_id);
    auto where = current_folder();
    queue.async([target, where, document = std::move(document), done = std::move(done)]() mutable {
        std::optional<VornError> error;
        if (!target || !where) {
            error = VornError{"FileError", 4, "There is no folder for unsaved text.", "noFolder"};
        } else if (auto failed = defaults::createPrivateDirectories(*where)) {
            error = VornError{"FileError", errno ? errno : EIO, *failed, "cannotCreateFolder"};
        } else if (auto not_written = defaults::writeFileAtomically(*target, encode(std::move(document)))) {
            error = VornError{"FileError", 2, *not_written, "writeFailed"};
        }
        if (error) AMZLogger::shared().log_error("cannot keep unsaved text: " + error->text());
        if (done) done(error);
    });
}

void VornUnsavedTextKeeper::forget(const std::string& service_id, const std::string& session_id,
                                   std::function<void()> done) {
    auto target = file_for(service_id, session_id);
    queue.async([target, done = std::move(done)] {
        if (target) {
            std::error_code ec;
            fs::remove(*target, ec);
            if (ec) AMZLogger::shared().log_error("cannot remove kept text " + target->string() + ": " + ec.message());
        }
        if (done) done();
    });
}

std::vector<VornKeptDocument> VornUnsavedTextKeeper::kept_documents() {
    queue.sync([] {});
    std::vector<VornKeptDocument> found;
    const auto where = current_folder();
    if (!where) return found;
    std::error_code ec;
    std::vector<fs::path> files;
    for (fs::directory_iterator it(*where, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        // Hidden entries are the atomic writes' temporary files; kept-aside copies end otherwise.
        if (name.empty() || name[0] == '.' || it->path().extension() != ".json") continue;
        std::error_code kind;
        if (it->is_regular_file(kind)) files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        auto bytes = defaults::readWholeFile(file);
        auto document = bytes ? decode(*bytes) : std::nullopt;
        if (document) {
            document->file = file;
            found.push_back(std::move(*document));
            continue;
        }
        AMZLogger::shared().log_error("unreadable kept text " + file.string());
        if (!bytes) continue;  // not readable at all: it stays where it is
        // Kept aside, then out of the folder, so no launch reads it again; never overwritten.
        if (auto copy = defaults::keepAside(file)) {
            AMZLogger::shared().log_error("unreadable kept text kept as " + copy->string());
            std::error_code removed;
            fs::remove(file, removed);
        }
    }
    return found;
}

void VornUnsavedTextKeeper::mark_restoring(const std::string& service_id, const std::string& session_id) {
    restoring_.insert({service_id, session_id});
}

bool VornUnsavedTextKeeper::take_restoring(const std::string& service_id, const std::string& session_id) {
    return restoring_.erase({service_id, session_id}) > 0;
}

bool VornUnsavedTextKeeper::is_restoring(const std::string& service_id, const std::string& session_id) const {
    return restoring_.count({service_id, session_id}) > 0;
}

// ---- the debounce -------------------------------------------------------------------------------

struct VornKeepDebounce::State {
    std::chrono::milliseconds delay;
    std::function<void()> fire;
    bool pending = false;
    uint64_t generation = 0;
};

VornKeepDebounce::VornKeepDebounce(std::chrono::milliseconds delay, std::function<void()> fire)
    : state_(std::make_shared<State>()) {
    state_->delay = delay;
    state_->fire = std::move(fire);
}

VornKeepDebounce::~VornKeepDebounce() { cancel(); }

void VornKeepDebounce::changed() {
    if (state_->pending) return;
    state_->pending = true;
    const uint64_t generation = ++state_->generation;
    std::weak_ptr<State> weak = state_;
    dispatch::after(dispatch::mainQueue(), state_->delay, [weak, generation] {
        auto state = weak.lock();
        if (!state || !state->pending || state->generation != generation) return;
        state->pending = false;
        auto fire = state->fire;  // the run may drop the debounce
        if (fire) fire();
    });
}

void VornKeepDebounce::cancel() {
    state_->pending = false;
    ++state_->generation;
}

bool VornKeepDebounce::pending() const { return state_->pending; }
