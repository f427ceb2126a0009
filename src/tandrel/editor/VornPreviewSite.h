#pragma once
// The site of a previewed page: the files its links name, read through the document's server
// connection. The preview loads the page at its site address (web::site), so relative links
// resolve against the page's folder and root-relative ones ("/css/a.css") against the site's
// root: the server's "Web root" when the page lies inside it, else the connection's root.
//
// What a path serves, first found wins:
//  1. the page's own text as edited (set_page), as HTML whatever the page's name (a PHP page's
//     "Live" rendering is its text shown as HTML);
//  2. the current text of a document window open on that file of the same connection, saved or
//     not (VornPreviewOpenTexts);
//  3. the server's copy, read once through the provider off the GUI thread and kept until the
//     app saves that file or a listing shows it with another size or date.
// A file the server does not have is a plain 404 for the page; nothing is shown to the user.
// Texts are served as their files' bytes, in the encoding each file is in, with that charset: a
// text of the app (1, 2) in its document's encoding (as UTF-8 while it holds a character that
// encoding cannot), the server's copy of a text file as it is, with the charset the text road
// reads it in (platform/text). A page so renders as its file does (document.characterSet, forms,
// the URLs it builds).
// Past the page, what no static web server would give out (web::site::servedAsStatic: PHP
// source, dot-files, backups) is answered as missing, and never read ahead.
//
// Reads ahead: the files a page's own tags load (style sheets, scripts, images, icons, frames)
// and those a style sheet @imports are read from the server as soon as the page's text, or the
// sheet, is there, not only once the web engine asks for them: the provider's workers start
// while the engine still sets the page up, and a sheet's imports while it still parses the
// sheet. A request for a file being read waits for that read.
// Main thread only (the provider's completions hop back to the main queue).
#include <QObject>
#include <QString>
#include <QUrl>

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/files/FileObject.h"
#include "platform/files/FileProvider.h"
#include "platform/web/SiteResources.h"

class VornServerFilesDataModel;

class VornPreviewSite final : public web::site::Source, public std::enable_shared_from_this<VornPreviewSite> {
public:
    // `root`: the provider path the site's "/" maps to.
    static std::shared_ptr<VornPreviewSite> make(std::shared_ptr<files::FileProvider> provider, std::string root);
    ~VornPreviewSite() override;

    const std::string& root() const { return root_; }
    const files::FileProvider* provider() const { return provider_key_; }
    // A new key for the site, the old one closed: the next page load's addresses are all new, so
    // the web engine takes none of the page's files from its memory of an earlier load (it
    // keeps them by address, and would not ask again even for a reload).
    void renew_key();
    // The site address of a provider path inside the root; nothing for a path outside it.
    std::optional<QUrl> address_of(const std::string& provider_path) const;
    // The provider path a site address names (its own key only).
    std::optional<std::string> path_of(const QUrl& address) const;

    // The page the site shows: its text (UTF-8) is served for its provider path instead of the
    // server's file, as HTML whatever its name, in `encoding` (a WHATWG name), until another page
    // is set.
    void set_page(const std::string& provider_path, std::string text, std::string encoding = "UTF-8");
    // The server's copy of a path changed (the app saved it): read it again when next asked.
    void forget(const std::string& provider_path);
    // A listing of the server: kept copies listed with another size or date are read again.
    void listed(const VornServerFilesDataModel& listing);
    // Reads ahead the files the tags of `html`, the text of the page at `page_path`, load (see
    // above); a page with a <base> element is left to the engine.
    void read_ahead(const std::string& page_path, const std::string& html);
    // The site paths a page (or a style sheet) at the site path `from` loads by its text
    // (addresses on other sites, and data: ones, left out), in their order, each once.
    static std::vector<std::string> linked_paths(const std::string& from, const std::string& text, bool style_sheet);
    // How many reads from the server are under way (for observers such as tests).
    std::size_t reads_under_way() const { return reading_.size(); }
    // The provider paths the pages of this site asked for, since the last clear.
    const std::set<std::string>& requested() const { return requested_; }
    void clear_requested() { requested_.clear(); }
    // How many files were read from the server (for observers such as tests).
    int server_reads() const { return server_reads_; }

    void fetch(const std::string& path, web::site::Answer answer) override;

private:
    VornPreviewSite(std::shared_ptr<files::FileProvider> provider, std::string root);
    // Whether the path has a text of the app, a kept copy or a read under way.
    bool at_hand(const std::string& path) const;
    // Reads the server's copies, all in one provider call; the answers waiting for each
    // (reading_) get it.
    void read(std::vector<std::string> paths);
    // What the read of `path` begun at its `generation` brought, on the main queue.
    void received(const std::string& path, int generation, std::optional<files::Bytes> data,
                  std::optional<files::FileError> error);
    // Reads the files the text of the page or style sheet at provider path `from` loads.
    void read_linked(const std::string& from, const std::string& text, bool style_sheet);
    struct Kept {
        std::string bytes;
        std::string charset;  // of a text file, as the text road reads it
        std::optional<std::pair<std::int64_t, std::optional<double>>> listed;  // size and date as last listed
    };
    std::weak_ptr<files::FileProvider> provider_;
    const files::FileProvider* provider_key_ = nullptr;
    std::string root_;
    QString key_;
    struct Page {
        std::string path, text, encoding;
    };
    std::optional<Page> page_;
    std::map<std::string, Kept> kept_;
    std::map<std::string, std::vector<web::site::Answer>> reading_;  // reads under way, by path
    std::map<std::string, int> generation_;                           // bumped by forget()
    std::set<std::string> requested_;
    std::set<std::string> missing_ahead_;  // read ahead and not found, until the page asks
    int server_reads_ = 0;
};

// The current texts of the documents open in document windows, by connection and path: each
// preview connector records its own document's text as the editor sends it, so that the pages of
// other windows on the same connection use it. Main thread only.
class VornPreviewOpenTexts final : public QObject {
    Q_OBJECT
public:
    static VornPreviewOpenTexts& shared();
    std::optional<std::string> text(const files::FileProvider* provider, const std::string& path) const;
    // The encoding the document's file is in (UTF-8 when none was set).
    std::string encoding(const files::FileProvider* provider, const std::string& path) const;
    void set(const files::FileProvider* provider, const std::string& path, std::string text, std::string encoding = "UTF-8");
    void remove(const files::FileProvider* provider, const std::string& path);

signals:
    // The text of a document changed, or its window went (the server's copy counts again).
    void textChanged(const files::FileProvider* provider, const std::string& path);

private:
    std::map<std::pair<const files::FileProvider*, std::string>, std::string> texts_;
    std::map<std::pair<const files::FileProvider*, std::string>, std::string> encodings_;
};
