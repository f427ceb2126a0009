#pragma once
// Which requests a page may make. Two kinds of page exist:
//  - a page loaded from a file, with read access to one folder: file URLs inside that folder (after
//    resolving "..", symbolic links and the like) and nothing else; no network at all;
//  - a page served from memory through the app's page scheme: that scheme and, only when allowed,
//    http and https. Never a file;
//  - a page of a site (SiteResources.h): the site scheme under its own key only (never another
//    site's) and, only when allowed, http and https. Never a file, never the page scheme;
//  - a page of the web (a web server's page at its own http or https address): http and https
//    only. Never a file, never one of the app's schemes.
// data:, blob: and about: URLs stay inside the page and are always allowed.
#include <QString>
#include <QUrl>
#include <QWebEngineUrlRequestInterceptor>

#include <filesystem>
#include <mutex>
#include <optional>
#include <set>

namespace web {

class RequestPolicy {
public:
    // Refuses everything (a page before its first load).
    RequestPolicy() = default;
    // File URLs inside `folder` only. Returns nothing when the folder does not exist.
    static std::optional<RequestPolicy> folder(const std::filesystem::path& folder);
    // The page scheme; http and https too when `allowNetwork`.
    static RequestPolicy memoryPage(bool allowNetwork);
    // The site scheme under `key`; http and https too when `allowNetwork`.
    static RequestPolicy site(const QString& key, bool allowNetwork);
    // http and https only.
    static RequestPolicy web();

    bool allows(const QUrl& url) const;
    // The canonical folder a file page may read, if this is a file-page policy.
    std::optional<QString> readAccessFolder() const;

private:
    enum class Kind { none, folder, memory, site, web };
    Kind kind_ = Kind::none;
    QString folder_;  // canonical, no trailing slash (except for "/"); a site's key
    bool allowNetwork_ = false;
};

// The interceptor of one page: refuses what the page's current policy does not allow and signals
// each refusal (queued to the receiver's thread when the engine calls from another thread).
class RequestInterceptor final : public QWebEngineUrlRequestInterceptor {
    Q_OBJECT
public:
    explicit RequestInterceptor(QObject* parent = nullptr);
    void setPolicy(RequestPolicy policy);
    RequestPolicy policy() const;
    // A document offered to this page (WebView::offerDocument): the page's own data requests
    // (XMLHttpRequest or fetch) may read it, whatever the policy; nothing else may, and no
    // navigation goes there.
    void allowDocument(const QUrl& url);
    void forgetDocument(const QUrl& url);
    void interceptRequest(QWebEngineUrlRequestInfo& info) override;

signals:
    void refused(const QUrl& url);

private:
    mutable std::mutex mutex_;
    RequestPolicy policy_;
    std::set<QString> documents_;
};

}  // namespace web
