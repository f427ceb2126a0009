#include "tandrel/editor/VornPreviewSite.h"

#include "platform/dispatch/Dispatch.h"
#include "platform/files/RemotePath.h"
#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/foundation/TandrelExtensions.h"
#include "tandrel/foundation/VornServerFilesDataModel.h"

namespace {

// Texts the app holds (an edited page, an open document) are UTF-8: said so for the types whose
// charset a browser would otherwise guess.
QByteArray content_type(const std::string& path, bool text_of_the_app) {
    QByteArray type = QByteArray::fromStdString(mime_type_for_url(path));
    if (text_of_the_app && (type.startsWith("text/") || type.endsWith("javascript") || type.endsWith("json")))
        type += ";charset=utf-8";
    return type;
}

web::site::Outcome resource(std::string bytes, const std::string& path, bool text_of_the_app) {
    web::site::Outcome outcome;
    outcome.resource = web::site::Resource{QByteArray::fromStdString(bytes), content_type(path, text_of_the_app)};
    return outcome;
}

}  // namespace

std::shared_ptr<VornPreviewSite> VornPreviewSite::make(std::shared_ptr<files::FileProvider> provider, std::string root) {
    std::shared_ptr<VornPreviewSite> site(new VornPreviewSite(std::move(provider), std::move(root)));
    site->key_ = web::site::open(site);
    return site;
}

VornPreviewSite::VornPreviewSite(std::shared_ptr<files::FileProvider> provider, std::string root)
    : provider_(provider), provider_key_(provider.get()), root_(files::path::normalize(root)) {}

VornPreviewSite::~VornPreviewSite() { web::site::close(key_); }

void VornPreviewSite::renew_key() {
    web::site::close(key_);
    key_ = web::site::open(weak_from_this());
}

std::optional<QUrl> VornPreviewSite::address_of(const std::string& provider_path) const {
    const std::string path = files::path::normalize(provider_path);
    if (!files::path::isSameOrInside(path, root_)) return std::nullopt;
    if (root_ == "/") return web::site::address(key_, path);
    return web::site::address(key_, path.size() > root_.size() ? path.substr(root_.size()) : std::string("/"));
}

std::optional<std::string> VornPreviewSite::path_of(const QUrl& address) const {
    if (web::site::keyOf(address) != key_) return std::nullopt;
    return files::path::join(root_, address.path(QUrl::FullyDecoded).toStdString());
}

void VornPreviewSite::set_text(const std::string& provider_path, std::string text) {
    texts_[files::path::normalize(provider_path)] = std::move(text);
}

void VornPreviewSite::forget(const std::string& provider_path) {
    const std::string path = files::path::normalize(provider_path);
    kept_.erase(path);
    ++generation_[path];  // a read under way brings the older copy: it is served, never kept
}

void VornPreviewSite::listed(const VornServerFilesDataModel& listing) {
    if (!listing.fileSections) return;
    for (const auto& entry : *listing.fileSections) {
        if (!entry || !entry->path) continue;
        const auto it = kept_.find(files::path::normalize(*entry->path));
        if (it == kept_.end()) continue;
        const std::int64_t size = entry->size.value_or(-1);
        const std::pair<std::int64_t, std::optional<double>> now{
            size, entry->modifiedDate ? std::optional<double>(entry->modifiedDate->sinceReferenceDate) : std::nullopt};
        // The first listing after a read can only tell by size; later ones by size and date.
        const bool changed = it->second.listed ? *it->second.listed != now
                                               : size >= 0 && size != static_cast<std::int64_t>(it->second.bytes.size());
        if (changed) forget(it->first);
        else it->second.listed = now;
    }
}

void VornPreviewSite::fetch(const std::string& url_path, web::site::Answer answer) {
    const std::string path = files::path::join(root_, url_path);
    requested_.insert(path);
    if (const auto it = texts_.find(path); it != texts_.end()) return answer(resource(it->second, path, true));
    if (auto open = VornPreviewOpenTexts::shared().text(provider_key_, path)) {
        return answer(resource(std::move(*open), path, true));
    }
    if (const auto it = kept_.find(path); it != kept_.end()) return answer(resource(it->second.bytes, path, false));
    auto provider = provider_.lock();
    if (!provider || files::path::check(path)) {
        web::site::Outcome missing;
        missing.failure = provider ? web::site::Failure::notFound : web::site::Failure::failed;
        return answer(std::move(missing));
    }
    auto& waiting = reading_[path];
    waiting.push_back(std::move(answer));
    if (waiting.size() > 1) return;  // the read under way answers this request too
    ++server_reads_;
    std::weak_ptr<VornPreviewSite> weak = weak_from_this();
    const int generation = generation_[path];
    provider->contents(path, [weak, path, generation](std::optional<files::Bytes> data,
                                                       std::optional<files::FileError> error) {
        dispatch::mainQueue().async([weak, path, generation, data = std::move(data), error]() mutable {
            auto self = weak.lock();
            if (!self) return;  // the answers went with the site; their requests fail as dropped
            auto answers = std::move(self->reading_[path]);
            self->reading_.erase(path);
            web::site::Outcome outcome;
            if (data && !error) {
                if (self->generation_[path] == generation) self->kept_[path] = Kept{*data, std::nullopt};
                outcome = resource(std::move(*data), path, false);
            } else {
                if (error && error->kind != files::ErrorKind::notFound) {
                    AMZLogger::shared().log_info("the preview could not read " + path + ": " + error->message);
                    outcome.failure = web::site::Failure::failed;
                }
            }
            for (auto& a : answers) a(outcome);
        });
    });
}

VornPreviewOpenTexts& VornPreviewOpenTexts::shared() {
    static VornPreviewOpenTexts* texts = new VornPreviewOpenTexts;
    return *texts;
}

std::optional<std::string> VornPreviewOpenTexts::text(const files::FileProvider* provider, const std::string& path) const {
    const auto it = texts_.find({provider, files::path::normalize(path)});
    if (it == texts_.end()) return std::nullopt;
    return it->second;
}

void VornPreviewOpenTexts::set(const files::FileProvider* provider, const std::string& path, std::string text) {
    if (!provider) return;
    const std::string p = files::path::normalize(path);
    auto& held = texts_[{provider, p}];
    if (held == text && !held.empty()) return;
    held = std::move(text);
    emit textChanged(provider, p);
}

void VornPreviewOpenTexts::remove(const files::FileProvider* provider, const std::string& path) {
    const std::string p = files::path::normalize(path);
    if (texts_.erase({provider, p})) emit textChanged(provider, p);
}
