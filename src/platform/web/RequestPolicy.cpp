#include "platform/web/RequestPolicy.h"

#include <QDir>
#include <QFileInfo>

#include "platform/web/SiteResources.h"
#include "platform/web/WebProfile.h"

namespace web {

std::optional<RequestPolicy> RequestPolicy::folder(const std::filesystem::path& folder) {
    const QString canonical = QFileInfo(QString::fromStdString(folder.string())).canonicalFilePath();
    if (canonical.isEmpty() || !QFileInfo(canonical).isDir()) return std::nullopt;
    RequestPolicy p;
    p.kind_ = Kind::folder;
    p.folder_ = canonical;
    return p;
}

RequestPolicy RequestPolicy::memoryPage(bool allowNetwork) {
    RequestPolicy p;
    p.kind_ = Kind::memory;
    p.allowNetwork_ = allowNetwork;
    return p;
}

RequestPolicy RequestPolicy::site(const QString& key, bool allowNetwork) {
    RequestPolicy p;
    p.kind_ = key.isEmpty() ? Kind::none : Kind::site;
    p.folder_ = key;
    p.allowNetwork_ = allowNetwork;
    return p;
}

RequestPolicy RequestPolicy::web() {
    RequestPolicy p;
    p.kind_ = Kind::web;
    return p;
}

std::optional<QString> RequestPolicy::readAccessFolder() const {
    if (kind_ != Kind::folder) return std::nullopt;
    return folder_;
}

bool RequestPolicy::allows(const QUrl& url) const {
    if (!url.isValid()) return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("data") || scheme == QLatin1String("blob") || scheme == QLatin1String("about"))
        return true;
    switch (kind_) {
        case Kind::none:
            return false;
        case Kind::folder: {
            if (scheme != QLatin1String("file") || !url.host().isEmpty()) return false;
            // canonicalFilePath resolves "..", "." and symbolic links; a file that does not exist
            // has no canonical path and is refused.
            const QString path = QFileInfo(url.toLocalFile()).canonicalFilePath();
            if (path.isEmpty()) return false;
            if (path == folder_) return true;
            const QString prefix = folder_.endsWith(QLatin1Char('/')) ? folder_ : folder_ + QLatin1Char('/');
            return path.startsWith(prefix);
        }
        case Kind::memory:
            if (scheme == QString::fromLatin1(kPageScheme)) return true;
            if (allowNetwork_ && (scheme == QLatin1String("http") || scheme == QLatin1String("https")))
                return true;
            return false;
        case Kind::web:
            return scheme == QLatin1String("http") || scheme == QLatin1String("https");
        case Kind::site:
            if (scheme == QLatin1String(kSiteScheme)) return site::keyOf(url) == folder_;
            if (allowNetwork_ && (scheme == QLatin1String("http") || scheme == QLatin1String("https")))
                return true;
            return false;
    }
    return false;
}

RequestInterceptor::RequestInterceptor(QObject* parent) : QWebEngineUrlRequestInterceptor(parent) {}

void RequestInterceptor::setPolicy(RequestPolicy policy) {
    std::lock_guard lock(mutex_);
    policy_ = std::move(policy);
}

RequestPolicy RequestInterceptor::policy() const {
    std::lock_guard lock(mutex_);
    return policy_;
}

void RequestInterceptor::allowDocument(const QUrl& url) {
    std::lock_guard lock(mutex_);
    documents_.insert(url.toString());
}

void RequestInterceptor::forgetDocument(const QUrl& url) {
    std::lock_guard lock(mutex_);
    documents_.erase(url.toString());
}

void RequestInterceptor::interceptRequest(QWebEngineUrlRequestInfo& info) {
    const RequestPolicy current = policy();
    const QUrl url = info.requestUrl();
    if (current.allows(url)) return;
    if (url.scheme() == QLatin1String(kDocumentScheme) &&
        (info.resourceType() == QWebEngineUrlRequestInfo::ResourceTypeXhr)) {
        std::lock_guard lock(mutex_);
        if (documents_.count(url.toString())) return;
    }
    info.block(true);
    emit refused(url);
}

}  // namespace web
