#include "tandrel/editor/VornPreviewSite.h"

#include "platform/dispatch/Dispatch.h"
#include "platform/files/RemotePath.h"
#include "platform/text/TextEncoding.h"
#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/foundation/TandrelExtensions.h"
#include "tandrel/foundation/VornServerFilesDataModel.h"

namespace {

bool is_text_type(const QByteArray& type) {
    return type.startsWith("text/") || type.endsWith("javascript") || type.endsWith("json") || type.endsWith("xml");
}

// The file's type, with the charset its text is in for the types whose charset a browser would
// otherwise guess (none given: none said).
web::site::Outcome resource(std::string bytes, QByteArray type, const std::string& charset) {
    if (!charset.empty() && is_text_type(type)) type += ";charset=" + QByteArray::fromStdString(charset);
    web::site::Outcome outcome;
    outcome.resource = web::site::Resource{QByteArray::fromStdString(bytes), std::move(type)};
    return outcome;
}

web::site::Outcome resource(std::string bytes, const std::string& path, const std::string& charset) {
    return resource(std::move(bytes), QByteArray::fromStdString(mime_type_for_url(path)), charset);
}

// A text of the app (UTF-8) as its file's bytes: in the document's encoding, or as UTF-8 while
// it holds a character that encoding cannot (an edit not saved yet).
web::site::Outcome app_text(const std::string& text, const std::string& encoding, const QByteArray& type) {
    if (encoding != "UTF-8") {
        textcodec::TextFormat format;
        format.encoding = encoding;
        auto bytes = textcodec::encodeText(text, format);
        if (auto* encoded = std::get_if<std::string>(&bytes)) return resource(std::move(*encoded), type, encoding);
    }
    return resource(text, type, "utf-8");
}

web::site::Outcome app_text(const std::string& text, const std::string& encoding, const std::string& path) {
    return app_text(text, encoding, QByteArray::fromStdString(mime_type_for_url(path)));
}

// The charset the text road reads a server's text file in (nothing for other files).
std::string charset_of(const std::string& bytes, const std::string& path) {
    if (!is_text_type(QByteArray::fromStdString(mime_type_for_url(path)))) return {};
    return textcodec::decodeText(bytes, path).format.encoding;
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

void VornPreviewSite::set_page(const std::string& provider_path, std::string text, std::string encoding) {
    page_ = Page{files::path::normalize(provider_path), std::move(text), std::move(encoding)};
}

void VornPreviewSite::forget(const std::string& provider_path) {
    const std::string path = files::path::normalize(provider_path);
    kept_.erase(path);
    missing_ahead_.erase(path);
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

bool VornPreviewSite::at_hand(const std::string& path) const {
    return (page_ && page_->path == path) || kept_.count(path) || reading_.count(path) || missing_ahead_.count(path) ||
           VornPreviewOpenTexts::shared().text(provider_key_, path);
}

void VornPreviewSite::read_ahead(const std::string& page_path, const std::string& html) {
    missing_ahead_.clear();  // what an earlier page's reads ahead did not find is looked for again
    read_linked(page_path, html, false);
}

void VornPreviewSite::read_linked(const std::string& from, const std::string& text, bool style_sheet) {
    const auto address = address_of(from);
    if (!address) return;
    std::vector<std::string> paths;
    for (const auto& linked : linked_paths(address->path(QUrl::FullyDecoded).toStdString(), text, style_sheet)) {
        if (!web::site::servedAsStatic(linked)) continue;
        std::string path = files::path::join(root_, linked);
        if (!files::path::check(path) && !at_hand(path)) paths.push_back(std::move(path));
    }
    // All in one call: a provider that can ask for many files at once on one connection does.
    if (!paths.empty()) read(std::move(paths));
}

void VornPreviewSite::fetch(const std::string& url_path, web::site::Answer answer) {
    const std::string path = files::path::join(root_, url_path);
    requested_.insert(path);
    // The page itself, as HTML whatever its name: "Live" shows a PHP page's text taken for HTML.
    if (page_ && page_->path == path) return answer(app_text(page_->text, page_->encoding, QByteArrayLiteral("text/html")));
    // Past the page itself, only what a static web server hands out: never the source of the
    // server's code, its dot-files or backups, whoever asks (the page's own scripts included).
    if (!web::site::servedAsStatic(url_path)) return answer(web::site::Outcome{});
    if (auto open = VornPreviewOpenTexts::shared().text(provider_key_, path)) {
        return answer(app_text(*open, VornPreviewOpenTexts::shared().encoding(provider_key_, path), path));
    }
    if (const auto it = kept_.find(path); it != kept_.end()) return answer(resource(it->second.bytes, path, it->second.charset));
    if (missing_ahead_.erase(path)) return answer(web::site::Outcome{});  // a read ahead found nothing there
    auto provider = provider_.lock();
    if (!provider || files::path::check(path)) {
        web::site::Outcome missing;
        missing.failure = provider ? web::site::Failure::notFound : web::site::Failure::failed;
        return answer(std::move(missing));
    }
    const bool under_way = reading_.count(path) > 0;  // a read (ahead, or for another request) answers this one too
    reading_[path].push_back(std::move(answer));
    if (!under_way) read({path});
}

void VornPreviewSite::read(std::vector<std::string> paths) {
    auto provider = provider_.lock();
    if (!provider) {  // the connection went: what waits fails, as when it goes during a read
        for (const auto& path : paths) {
            auto answers = std::move(reading_[path]);
            reading_.erase(path);
            web::site::Outcome failed;
            failed.failure = web::site::Failure::failed;
            for (auto& a : answers) a(failed);
        }
        return;
    }
    std::map<std::string, int> generations;
    for (const auto& path : paths) {
        reading_[path];
        ++server_reads_;
        generations[path] = generation_[path];
    }
    std::weak_ptr<VornPreviewSite> weak = weak_from_this();
    provider->contentsOfFiles(std::move(paths), [weak, generations](std::string path, std::optional<files::Bytes> data,
                                                                     std::optional<files::FileError> error) {
        const auto known = generations.find(path);
        const int generation = known != generations.end() ? known->second : -1;
        dispatch::mainQueue().async([weak, path = std::move(path), generation, data = std::move(data), error]() mutable {
            if (auto self = weak.lock()) self->received(path, generation, std::move(data), std::move(error));
            // Without the site, the answers went with it; their requests fail as dropped.
        });
    });
}

void VornPreviewSite::received(const std::string& path, int generation, std::optional<files::Bytes> data,
                               std::optional<files::FileError> error) {
    auto answers = std::move(reading_[path]);
    reading_.erase(path);
    web::site::Outcome outcome;
    if (data && !error) {
        std::string charset = charset_of(*data, path);
        if (generation_[path] == generation) kept_[path] = Kept{*data, charset, std::nullopt};
        // A style sheet's imports are read while the engine parses it.
        if (mime_type_for_url(path) == "text/css") read_linked(path, *data, true);
        outcome = resource(std::move(*data), path, charset);
    } else {
        // A miss is not kept; one that no request waited for answers the page's request, once.
        if (answers.empty() && error && error->kind == files::ErrorKind::notFound && generation_[path] == generation)
            missing_ahead_.insert(path);
        if (error && error->kind != files::ErrorKind::notFound) {
            AMZLogger::shared().log_info("the preview could not read " + path + ": " + error->message);
            outcome.failure = web::site::Failure::failed;
        }
    }
    for (auto& a : answers) a(outcome);
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

std::string VornPreviewOpenTexts::encoding(const files::FileProvider* provider, const std::string& path) const {
    const auto it = encodings_.find({provider, files::path::normalize(path)});
    return it == encodings_.end() ? std::string("UTF-8") : it->second;
}

void VornPreviewOpenTexts::set(const files::FileProvider* provider, const std::string& path, std::string text,
                               std::string encoding) {
    if (!provider) return;
    const std::string p = files::path::normalize(path);
    auto& held = texts_[{provider, p}];
    auto& held_encoding = encodings_[{provider, p}];
    if (held == text && !held.empty() && held_encoding == encoding) return;
    held = std::move(text);
    held_encoding = std::move(encoding);
    emit textChanged(provider, p);
}

void VornPreviewOpenTexts::remove(const files::FileProvider* provider, const std::string& path) {
    const std::string p = files::path::normalize(path);
    encodings_.erase({provider, p});
    if (texts_.erase({provider, p})) emit textChanged(provider, p);
}
