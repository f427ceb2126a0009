// The live preview's page at its site address, against each protocol's local server: the page's
// relative, "../", root-relative links, <base href>, CSS url() and @import, images and scripts
// come through the window's own connection, a missing file is a plain 404, and what applied is
// read back from the page. The page reaches nothing else: no other site, no file, no bridge to
// the app, and it cannot write to the server. Other document windows' texts of the same
// connection restyle the page without reloading it, and the app's own saves are read again.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QTcpServer>

#include "BridgeTestSupport.h"
#include "platform/files/RemotePath.h"
#include "platform/ui/View.h"
#include "platform/web/SiteResources.h"
#include "platform/web/WebProfile.h"
#include "support/MainQueueSettle.h"
#include "tandrel/editor/VornEditorJSConnectorSupport.h"
#include "tandrel/editor/VornPreviewSite.h"
#include "tandrel/foundation/VornServicesManager.h"
#include "tandrel/servers/ServerFormModel.h"
#include "tandrel/servers/VornTrust.h"

using namespace bridgetest;

namespace {

// A PNG of w x h pixels.
std::string png(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

// The page under test: in /site/pages of a server whose web root is /site.
const char* const kPage = R"(<!doctype html><html><head><meta charset="utf-8">
<link rel="stylesheet" href="../css/a.css">
<link rel="stylesheet" href="local.css">
<link rel="stylesheet" href="/root.css">
<script src="js/m.js"></script>
</head><body>
<h1 id="rel">relative</h1><h2 id="imp">imported</h2><h3 id="root">root</h3><h4 id="local">local</h4>
<div id="bg" style="width:10px;height:10px"></div>
<img id="img" src="../img/dot.png"><img id="set" srcset="../img/wide.png 1x"><img id="missing" src="../img/none.png">
<div style="height:4000px"></div>
</body></html>)";

class PreviewSite : public opstest::OpsTest, public ::testing::WithParamInterface<std::string> {
protected:
    void SetUp() override {
        OpsTest::SetUp();
        if (HasFatalFailure()) return;
        if (!webtest::haveDisplay()) GTEST_SKIP() << "no display (DISPLAY is empty)";
        if (auto why = keyringtest::keyringUnavailable()) GTEST_SKIP() << *why;
        peer_ = peer(GetParam());
        if (!peer_.skipReason.empty()) GTEST_SKIP() << peer_.skipReason;
        if (peer_.values.count("CERT")) {
            files::Certificate certificate;
            certificate.der = filestest::derOfPem(peer_.values["CERT"]);
            ASSERT_TRUE(app_trust()->addCertificate("127.0.0.1", peer_.port, certificate));
        }
        put("site/css/a.css", "@import \"b.css\";\n#rel { color: rgb(255, 0, 0); }\n"
                              "#bg { background-image: url(../img/bg.png); }\n");
        put("site/css/b.css", "#imp { color: rgb(0, 0, 255); }\n");
        put("site/pages/local.css", "#local { color: rgb(1, 2, 3); }\n");
        put("site/root.css", "#root { color: rgb(0, 128, 0); }\n");
        put("root.css", "#root { color: rgb(9, 9, 9); }\n");  // above the web root: never used
        put("site/pages/js/m.js", "window.fromScript = 6 * 7;\n");
        put("site/img/dot.png", png(3, 2));
        put("site/img/wide.png", png(7, 5));
        put("site/img/bg.png", png(2, 2));
        server_ = saveServer(peer_);
        server_->web_root = "/site";
        const auto connected = connect(server_->id);
        ASSERT_TRUE(connected.bucket) << (connected.error ? connected.error->text() : "no error");

        hub = std::make_unique<TestHub>();
        errors = std::make_unique<TestErrors>();
        preview = std::make_unique<VornPreviewJSConnector>();
        preview->scene_delegatex = hub.get();
        preview->file_delegatex = window;
        preview->error_delegatex = errors.get();
        hub->preview = preview.get();
        hub->previewScreen = ui::make<WebViewController>();
        hub->previewScreen->scene_delegatex = hub.get();
        hub->previewScreen->view()->resize(640, 480);
        hub->previewScreen->view()->show();
        ASSERT_TRUE(waitFor([&] { return preview->web_view != nullptr; }, 10000));
    }
    void TearDown() override {
        if (hub) hub->previewScreen.reset();
        preview.reset();
        hub.reset();
        OpsTest::TearDown();
    }

    void put(const std::string& relative, const std::string& bytes) {
        filestest::makeDiskFolder((peer_.root / relative).parent_path());
        filestest::writeDiskFile(peer_.root / relative, bytes);
    }
    // Shows `html` as the document at `path` and waits for its site page to have loaded.
    // (A comment after the page's end tells this page from the one shown before.)
    void show(const std::string& path, const std::string& html) {
        const std::string mark = "shown " + std::to_string(++shown_);
        hub->info.file_path = path;
        preview->push_preview_content(editor_support::preview_bucket(path, html + "<!--" + mark + "-->"));
        ASSERT_TRUE(waitFor([&] {
            return js("location.protocol + document.readyState + (document.lastChild && document.lastChild.data)") ==
                   std::string(web::kSiteScheme) + ":complete" + mark;
        }, webtest::kPageLoadMs)) << js("location.href").dump();
    }
    // What the page's XMLHttpRequest got: "<status> <text>", or "refused".
    json xhr(const std::string& method, const std::string& url) {
        js("window.__probe = undefined; (function(){ var x = new XMLHttpRequest();"
           "x.onload = function(){ window.__probe = x.status + ' ' + x.responseText; };"
           "x.onerror = function(){ window.__probe = 'refused'; };"
           "try { x.open(" + json(method).dump() + ", " + json(url).dump() + "); x.send(" +
           (method == "GET" ? "" : "'x'") + "); } catch (e) { window.__probe = 'refused'; } })(); true");
        waitFor([&] { return js("window.__probe").is_string(); }, 10000);
        return js("window.__probe");
    }
    // What the page's fetch() got: "<status> <text>", or "refused".
    json fetched(const std::string& url, const std::string& method = "GET") {
        js("window.__probe = undefined; fetch(" + json(url).dump() + ", {method: " + json(method).dump() +
           "}).then(function (r) { return r.text().then(function (t) { window.__probe = r.status + ' ' + t; }); },"
           " function () { window.__probe = 'refused'; }); true");
        waitFor([&] { return js("window.__probe").is_string(); }, 10000);
        return js("window.__probe");
    }
    int shown_ = 0;
    json js(const std::string& script) {
        if (!preview->web_view) return nullptr;
        auto out = webtest::run(*preview->web_view, script, 5000);
        return out.error ? json(out.error->message) : out.result;
    }
    std::string color(const std::string& id) {
        return js("getComputedStyle(document.getElementById('" + id + "')).color").get<std::string>();
    }

    opstest::Peer peer_;
    std::shared_ptr<VornSingleServiceDataModel> server_;
    std::unique_ptr<TestHub> hub;
    std::unique_ptr<TestErrors> errors;
    std::unique_ptr<VornPreviewJSConnector> preview;
};

TEST_P(PreviewSite, ThePagesOwnFilesComeThroughTheConnection) {
    show("/site/pages/index.html", kPage);
    struct Case {
        const char* id;
        const char* color;
    } const cases[] = {
        {"rel", "rgb(255, 0, 0)"},   // ../css/a.css
        {"imp", "rgb(0, 0, 255)"},   // @import "b.css" inside it
        {"local", "rgb(1, 2, 3)"},   // local.css, beside the page
        {"root", "rgb(0, 128, 0)"},  // /root.css: the web root's, not the connection's
    };
    for (const auto& c : cases) EXPECT_EQ(color(c.id), c.color) << c.id;
    EXPECT_TRUE(waitFor([&] { return js("document.getElementById('img').naturalWidth") == 3; }, 10000));
    EXPECT_TRUE(waitFor([&] { return js("document.getElementById('set').naturalWidth") == 7; }, 10000));
    EXPECT_EQ(js("window.fromScript"), 42);
    // CSS url() resolves against the style sheet and is asked of the server.
    EXPECT_TRUE(waitFor([&] { return preview->site()->requested().count("/site/img/bg.png") == 1; }, 10000));
    EXPECT_NE(js("getComputedStyle(document.getElementById('bg')).backgroundImage").get<std::string>().find("/img/bg.png"),
              std::string::npos);
    // The missing image failed as a missing file does, with no alert.
    EXPECT_TRUE(waitFor([&] { return js("(function(){var i=document.getElementById('missing');"
                                        "return i.complete && i.naturalWidth===0})()") == true; }, 10000));
    EXPECT_TRUE(errors->errors.empty()) << errors->errors.front().text();

    // <base href> moves every relative link; the page's own text is the editor's.
    show("/site/pages/based.html", R"(<html><head><base href="/css/"><link rel="stylesheet" href="a.css"></head>
<body><h1 id="rel">based</h1></body></html>)");
    EXPECT_EQ(color("rel"), "rgb(255, 0, 0)");
    EXPECT_EQ(js("document.getElementById('rel').textContent"), "based");

    // A page outside the web root has the connection's root for "/".
    show("/elsewhere.html", R"(<html><head><link rel="stylesheet" href="/root.css"></head>
<body><h3 id="root">x</h3></body></html>)");
    EXPECT_EQ(color("root"), "rgb(9, 9, 9)");
    EXPECT_TRUE(errors->errors.empty()) << errors->errors.front().text();
}

// The page's files are read from the server as soon as its text is there, a style sheet's
// imports as soon as the sheet is; the page's requests then take what was read, and a file the
// server lacks is asked for once per page load.
TEST_P(PreviewSite, ThePagesFilesAreReadBeforeThePageAsks) {
    auto site = VornPreviewSite::make(window->provider_as_read_write(), "/site");
    site->read_ahead("/site/pages/index.html", kPage);
    ASSERT_TRUE(waitFor([&] { return site->reads_under_way() == 0; }, 30000));
    // a.css, b.css (its import), local.css, root.css, m.js, dot.png and none.png (missing); not
    // the srcset's image nor a.css's url().
    const int reads = site->server_reads();
    EXPECT_EQ(reads, 7);
    struct Case {
        const char* path;  // as the page asks
        bool found;
        int reads;  // the server reads after the request
    } const cases[] = {
        {"/css/a.css", true, 7},        {"/css/b.css", true, 7},  {"/pages/local.css", true, 7},
        {"/root.css", true, 7},         {"/pages/js/m.js", true, 7}, {"/img/dot.png", true, 7},
        {"/img/none.png", false, 7},    // the read ahead's miss answers the page once...
        {"/img/none.png", false, 8},    // ...then the server is asked again
        {"/img/wide.png", true, 9},     // never read ahead
    };
    for (const auto& c : cases) {
        std::optional<web::site::Outcome> got;
        site->fetch(c.path, [&](web::site::Outcome o) { got = std::move(o); });
        ASSERT_TRUE(waitFor([&] { return got.has_value(); }, 30000)) << c.path;
        EXPECT_EQ(got->resource.has_value(), c.found) << c.path;
        EXPECT_EQ(site->server_reads(), c.reads) << c.path;
    }
    EXPECT_TRUE(errors->errors.empty()) << errors->errors.front().text();
}

TEST_P(PreviewSite, ThePageReachesNothingButItsOwnSite) {
    // Another site of the same app, with a file the page must not read.
    put("secret.txt", "secret");
    auto other = VornPreviewSite::make(window->provider_as_read_write(), "/");
    const QUrl otherFile = *other->address_of("/secret.txt");
    show("/site/pages/index.html", kPage);
    const std::string original = filestest::readDiskFile(peer_.root / "site/root.css");

    // The page's own files are readable with a request of its own; nothing else is, and nothing
    // but reading is answered.
    EXPECT_EQ(xhr("GET", "/root.css"), "200 #root { color: rgb(0, 128, 0); }\n");
    struct Probe {
        const char* method;
        std::string url;
    } const probes[] = {
        {"GET", otherFile.toString().toStdString()},
        {"GET", "file:///etc/hostname"},
        {"GET", std::string(web::kPageScheme) + "://p1/"},
        {"PUT", "/root.css"},
        {"POST", "/root.css"},
        {"DELETE", "/root.css"},
    };
    for (const auto& probe : probes) EXPECT_EQ(xhr(probe.method, probe.url), "refused") << probe.method << " " << probe.url;
    // No bridge: no web channel, no message handlers.
    EXPECT_EQ(js("typeof qt + ' ' + typeof window.webkit"), "undefined undefined");
    EXPECT_EQ(filestest::readDiskFile(peer_.root / "site/root.css"), original);
    EXPECT_TRUE(errors->errors.empty()) << errors->errors.front().text();
}

TEST_P(PreviewSite, ThePagesScriptsGetWhatAStaticServerGivesAndNothingElse) {
    put("site/data.json", "{\"a\":1}");
    // What a web server runs or keeps to itself: its code's source, dot-files, backups.
    const char* const kept[] = {"secret.php",      "inc/db.inc",     ".env",           ".git/config",
                                ".htaccess",       ".htpasswd",      "cgi-bin/run.cgi", "app.py",
                                "index.html~",     "index.html.bak", ".index.html.swp", "config.php.bak",
                                "lib/PAGE.PHP",    "x.php.en",       "pages/.hidden/a.css"};
    for (const char* file : kept) put(std::string("site/") + file, "<?php $password = 'hunter2'; ?>");
    show("/site/pages/index.html", kPage);

    EXPECT_EQ(fetched("/data.json"), "200 {\"a\":1}");
    EXPECT_EQ(fetched("../css/b.css"), "200 #imp { color: rgb(0, 0, 255); }\n");
    EXPECT_EQ(fetched("/no-such.json"), "404 ");
    EXPECT_EQ(fetched("/data.json", "POST"), "refused");
    for (const char* file : kept) {
        EXPECT_EQ(xhr("GET", std::string("/") + file), "refused") << file;
        EXPECT_EQ(fetched(std::string("/") + file), "404 ") << file;
    }
    EXPECT_TRUE(errors->errors.empty()) << errors->errors.front().text();
}

TEST_P(PreviewSite, AnotherWindowsStyleSheetRestylesAndSavesAreReadAgain) {
    show("/site/pages/index.html", kPage);
    ASSERT_EQ(color("rel"), "rgb(255, 0, 0)");
    js("window.scrollTo(0, 700); window.__same = 'same page'; true");
    const int loads = preview->preview_loads();

    // Another window of the same connection edits the imported and the linked style sheet: the
    // page restyles in place, its scroll position kept.
    VornPreviewJSConnector other;
    TestHub otherHub;
    other.scene_delegatex = &otherHub;
    other.file_delegatex = window;
    otherHub.info.file_path = "/site/css/b.css";
    other.push_preview_content(editor_support::preview_bucket("/site/css/b.css", "#imp { color: rgb(0, 200, 0); }"));
    EXPECT_TRUE(waitFor([&] { return color("imp") == "rgb(0, 200, 0)"; }, 10000));
    otherHub.info.file_path = "/site/root.css";
    other.push_preview_content(editor_support::preview_bucket("/site/root.css", "#root { color: rgb(5, 6, 7); }"));
    EXPECT_TRUE(waitFor([&] { return color("root") == "rgb(5, 6, 7)"; }, 10000));
    EXPECT_EQ(js("window.__same"), "same page");
    EXPECT_EQ(js("Math.round(window.scrollY)"), 700);
    EXPECT_EQ(preview->preview_loads(), loads);
    EXPECT_GE(preview->restyles(), 2);

    // A script edited in another window reloads the page.
    otherHub.info.file_path = "/site/pages/js/m.js";
    other.push_preview_content(editor_support::preview_bucket("/site/pages/js/m.js", "window.fromScript = 7;"));
    EXPECT_TRUE(waitFor([&] { return js("window.fromScript") == 7; }, 15000));
    EXPECT_GT(preview->preview_loads(), loads);

    // The app's own save of a style sheet: the kept copy goes, the next load reads the new one.
    const int reads = preview->site()->server_reads();
    std::optional<std::optional<VornError>> saved;
    window->write_file_text_checked("/site/pages/local.css", "#local { color: rgb(4, 4, 4); }\n",
                                    files::WriteMode::replace, std::nullopt,
                                    [&](std::optional<files::FileVersion>, std::optional<VornError> e) { saved = e; });
    ASSERT_TRUE(waitFor([&] { return saved.has_value(); }, 30000));
    ASSERT_FALSE(*saved) << (*saved)->text();
    show("/site/pages/index.html", std::string(kPage) + "<!-- again -->");
    EXPECT_EQ(color("local"), "rgb(4, 4, 4)");
    // The saved file is read again, and so is the missing image (a miss is not kept); the rest
    // comes from what the site keeps or from the open texts.
    EXPECT_EQ(preview->site()->server_reads(), reads + 2);

    // A listing that shows a kept file with another size: it is read again at the next load; one
    // that shows it unchanged reads nothing.
    const std::string changed = "#rel { color: rgb(20, 30, 40); }\n";
    put("site/css/a.css", changed);
    auto listing = std::make_shared<VornServerFilesDataModel>();
    auto entry = [](const std::string& path, std::int64_t size) {
        auto e = std::make_shared<VornServerFileDataModel>();
        e->path = path;
        e->size = size;
        return e;
    };
    listing->fileSections = {{entry("/site/img/dot.png", static_cast<std::int64_t>(png(3, 2).size())),
                              entry("/site/css/a.css", static_cast<std::int64_t>(changed.size()))}};
    emit window->remoteFolderListed(listing);
    show("/site/pages/index.html", kPage);
    EXPECT_EQ(color("rel"), "rgb(20, 30, 40)");
    EXPECT_EQ(preview->site()->server_reads(), reads + 4) << "a.css and the missing image";
    EXPECT_TRUE(errors->errors.empty()) << errors->errors.front().text();
}

// "Site": the page as a web server running PHP serves it over the FTP server's files.
class PreviewSiteMode : public PreviewSite {
protected:
    // The web server's log lines of GET requests for `path` (each written after its answer).
    int gets(const std::string& path) {
        const std::string log = filestest::readDiskFile(peer_.values.at("SITE_LOG"));
        const std::string needle = "\"GET " + path + " ";
        int n = 0;
        for (auto at = log.find(needle); at != std::string::npos; at = log.find(needle, at + 1)) ++n;
        return n;
    }
    json text_of(const std::string& id) {
        return js("(function(){var e=document.getElementById('" + id + "');return e?e.textContent:null})()");
    }
};

TEST_P(PreviewSiteMode, SiteShowsTheServedPageAndReloadsOnlyOnceTheSaveHasLanded) {
    const std::string page = "<?php $n = 6 * 7; ?><!doctype html><html><body><h1 id=\"out\">php says <?php echo $n; ?></h1>"
                             "<p id=\"v\">one</p><div style=\"height:6000px\"></div></body></html>";
    put("www/page.php", page);
    put("notes/x.html", "<p>not on the site</p>");
    // The connected window's record of the server, as the form would have saved it.
    ASSERT_TRUE(window->service);
    window->service->web_root = "/www";
    // The web server serves the peer's folder; this test's files are in a folder of their own.
    const std::string site = peer_.values.at("SITE_URL") + peer_.root.filename().string() + "/www/";
    window->service->site_url = site;
    // What the preview had shown when each save landed on the server.
    std::vector<int> loads_when_written;
    QObject::connect(window, &VornFileViewerSceneDelegateProtocol::remoteFileWritten, preview.get(),
                     [&](const QByteArray&) { loads_when_written.push_back(preview->site_loads()); });

    // A PHP document starts in "Site": "Live" cannot run it. The bar offers both; the heading
    // says which shows.
    auto* screen = hub->previewScreen.get();
    hub->info.file_path = "/www/page.php";
    preview->push_preview_content(editor_support::preview_bucket("/www/page.php", page));
    ASSERT_TRUE(waitFor([&] { return screen->navigationItem()->rightBarButtonItems().size() == 2; }, 5000));
    EXPECT_EQ(preview->preview_mode(), VornPreviewJSConnector::PreviewMode::site);
    EXPECT_EQ(screen->live_bar_item->title(), "Live");
    EXPECT_EQ(screen->site_bar_item->title(), "Site");
    EXPECT_FALSE(screen->site_bar_item->isEnabled());
    EXPECT_TRUE(screen->live_bar_item->isEnabled());
    EXPECT_EQ(screen->title(), "Site Preview");
    ASSERT_TRUE(waitFor([&] { return text_of("out") == "php says 42"; }, webtest::kPageLoadMs))
        << js("location.href + ' ' + document.documentElement.outerHTML");
    EXPECT_EQ(js("location.href"), site + "page.php");
    const std::string served = "/" + peer_.root.filename().string() + "/www/page.php";
    ASSERT_TRUE(waitFor([&] { return gets(served) == 1; }, 10000));
    // "Live": the editor's text taken for HTML (PHP's tags are no HTML), under its own heading.
    ASSERT_TRUE(screen->live_bar_item->trigger());
    EXPECT_EQ(preview->preview_mode(), VornPreviewJSConnector::PreviewMode::live);
    ASSERT_TRUE(waitFor([&] { return text_of("out") == "php says " && js("location.protocol") != "http:"; },
                        webtest::kPageLoadMs));
    EXPECT_EQ(screen->title(), "Live Preview");
    EXPECT_FALSE(screen->live_bar_item->isEnabled());
    ASSERT_TRUE(screen->site_bar_item->trigger());
    ASSERT_TRUE(waitFor([&] { return text_of("out") == "php says 42"; }, webtest::kPageLoadMs));
    EXPECT_EQ(screen->title(), "Site Preview");
    ASSERT_TRUE(waitFor([&] { return gets(served) == 2; }, 10000));
    // The page has no bridge, and no file.
    EXPECT_EQ(js("typeof qt + ' ' + typeof window.webkit"), "undefined undefined");
    EXPECT_EQ(xhr("GET", "file:///etc/hostname"), "refused");
    js("window.scrollTo(0, 900); true");
    ASSERT_TRUE(waitFor([&] { return js("Math.round(window.scrollY)") == 900; }, 5000));

    // Edits are not on the server: nothing loads.
    const int loads = preview->site_loads();
    const std::string edited = "<?php $n = 6 * 7; ?><!doctype html><html><body><h1 id=\"out\">php says <?php echo $n; ?></h1>"
                               "<p id=\"v\">two</p><div style=\"height:6000px\"></div></body></html>";
    preview->push_preview_content(editor_support::preview_bucket("/www/page.php", edited));
    EXPECT_EQ(preview->site_loads(), loads);

    // The save: the page loads once, after the save's replace (the server then serves the new file).
    std::optional<std::optional<VornError>> saved;
    window->write_file_text_checked("/www/page.php", edited, files::WriteMode::replace, std::nullopt,
                                    [&](std::optional<files::FileVersion>, std::optional<VornError> e) { saved = e; });
    ASSERT_TRUE(waitFor([&] { return saved.has_value(); }, 30000));
    ASSERT_FALSE(*saved) << (*saved)->text();
    ASSERT_EQ(loads_when_written, std::vector<int>{loads}) << "the page loaded before the save had landed";
    EXPECT_EQ(preview->site_loads(), loads + 1);
    ASSERT_TRUE(waitFor([&] { return text_of("v") == "two"; }, webtest::kPageLoadMs));
    EXPECT_EQ(text_of("out"), "php says 42");
    // Where the page was (the engine keeps it to a fraction of a pixel).
    EXPECT_TRUE(waitFor([&] { return js("Math.abs(window.scrollY - 900) <= 1") == true; }, 5000)) << js("window.scrollY");
    ASSERT_TRUE(waitFor([&] { return gets(served) == 3; }, 10000));

    // A file outside the web root has no address on the site; its own choice starts at "Live".
    hub->info.file_path = "/notes/x.html";
    preview->push_preview_content(editor_support::preview_bucket("/notes/x.html", "<p id=\"x\">live text</p>"));
    EXPECT_EQ(preview->preview_mode(), VornPreviewJSConnector::PreviewMode::live);
    ASSERT_TRUE(waitFor([&] { return text_of("x") == "live text"; }, webtest::kPageLoadMs));
    preview->set_preview_mode(VornPreviewJSConnector::PreviewMode::site);
    ASSERT_TRUE(waitFor([&] { return text_of("no-site-address").is_string(); }, webtest::kPageLoadMs));
    EXPECT_NE(text_of("no-site-address").get<std::string>().find("no address on the site"), std::string::npos);
    EXPECT_NE(js("location.protocol"), "http:");
    // Back to "Live" for it: the editor's text again.
    preview->set_preview_mode(VornPreviewJSConnector::PreviewMode::live);
    ASSERT_TRUE(waitFor([&] { return text_of("x") == "live text"; }, webtest::kPageLoadMs));
    // The PHP page kept its choice.
    hub->info.file_path = "/www/page.php";
    EXPECT_EQ(preview->preview_mode(), VornPreviewJSConnector::PreviewMode::site);
    EXPECT_TRUE(errors->errors.empty()) << errors->errors.front().text();
}

// A Site URL that does not answer: the preview says so and why, in place of whatever showed (never
// the editor's text under "Site"), and "Try Again" asks once more; a save that lands while the
// site is away says so too. An error status keeps the web server's own page and names it.
TEST_P(PreviewSiteMode, ASiteThatDoesNotAnswerSaysWhyAndOffersToTryAgain) {
    const std::string page = "<!doctype html><h1 id=\"out\">page <?php echo 6 * 7; ?></h1>";
    put("www/page.php", page);
    ASSERT_TRUE(window->service);
    window->service->web_root = "/www";
    const std::string site = peer_.values.at("SITE_URL") + peer_.root.filename().string() + "/www/";
    QTcpServer closed;  // a port of 127.0.0.1 that nothing listens on
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const std::string away = "http://127.0.0.1:" + std::to_string(closed.serverPort()) + "/";
    closed.close();
    window->service->site_url = away;
    auto* screen = hub->previewScreen.get();
    auto items = [&] { return screen->navigationItem()->rightBarButtonItems(); };

    hub->info.file_path = "/www/page.php";
    preview->set_preview_mode(VornPreviewJSConnector::PreviewMode::live);
    preview->push_preview_content(editor_support::preview_bucket("/www/page.php", page));
    ASSERT_TRUE(waitFor([&] { return text_of("out") == "page "; }, webtest::kPageLoadMs));
    // Every page the preview shows from the switch on.
    std::vector<QUrl> shown;
    QObject::connect(preview->web_view.data(), &QWebEngineView::urlChanged, preview.get(),
                     [&](const QUrl& url) { shown.push_back(url); });
    ASSERT_TRUE(screen->site_bar_item->trigger());
    ASSERT_TRUE(waitFor([&] { return text_of("site-failure").is_string(); }, webtest::kPageLoadMs))
        << js("document.documentElement.outerHTML");
    EXPECT_EQ(text_of("site-failure"), "The site did not answer");
    EXPECT_EQ(text_of("site-failure-reason"), "The connection was refused (net::ERR_CONNECTION_REFUSED).");
    EXPECT_EQ(text_of("site-address"), away + "page.php");
    EXPECT_EQ(screen->title(), "Site Preview");
    ASSERT_TRUE(waitFor([&] { return items().size() == 3; }, 5000));
    EXPECT_EQ(items().front(), screen->try_again_bar_item);
    EXPECT_EQ(screen->try_again_bar_item->title(), "Try Again");
    for (const QUrl& url : shown) EXPECT_NE(url.scheme(), QString::fromLatin1(web::kSiteScheme)) << "the editor's text showed";

    // The site is back (here: the right address): "Try Again" shows its page.
    window->service->site_url = site;
    ASSERT_TRUE(screen->try_again_bar_item->trigger());
    ASSERT_TRUE(waitFor([&] { return text_of("out") == "page 42"; }, webtest::kPageLoadMs));
    EXPECT_FALSE(preview->site_failure());
    EXPECT_TRUE(waitFor([&] { return items().size() == 2; }, 5000));

    // The site goes away; a save lands: the preview says the site did not answer, never the old page.
    window->service->site_url = away;
    std::optional<std::optional<VornError>> saved;
    window->write_file_text_checked("/www/page.php", page + "<p>saved</p>", files::WriteMode::replace, std::nullopt,
                                    [&](std::optional<files::FileVersion>, std::optional<VornError> e) { saved = e; });
    ASSERT_TRUE(waitFor([&] { return saved.has_value(); }, 30000));
    ASSERT_FALSE(*saved) << (*saved)->text();
    ASSERT_TRUE(waitFor([&] { return text_of("site-failure").is_string(); }, webtest::kPageLoadMs));
    EXPECT_TRUE(text_of("out").is_null());

    // An error status: the web server's own page stays, and the heading names the status.
    window->service->site_url = site;
    hub->info.file_path = "/www/gone.php";
    preview->push_preview_content(editor_support::preview_bucket("/www/gone.php", "<p>not on the server</p>"));
    ASSERT_TRUE(waitFor([&] { return screen->title() == "Site Preview \u2014 HTTP 404"; }, webtest::kPageLoadMs))
        << screen->title().toStdString();
    EXPECT_EQ(js("location.href"), site + "gone.php");
    EXPECT_EQ(preview->site_status(), 404);
    EXPECT_EQ(items().front(), screen->try_again_bar_item);
    EXPECT_TRUE(errors->errors.empty()) << errors->errors.front().text();
}

// The server's "Web root" and "Site URL" edited through the form while its window is open: the
// window's record (a copy made at connect, which new document windows take too) follows once
// the edit is saved, and the open preview shows its page anew under them, with no new push.
TEST_P(PreviewSiteMode, AServersEditedWebRootAndSiteUrlApplyToItsOpenWindowAtOnce) {
    const std::string page = "<!doctype html><link rel=\"stylesheet\" href=\"/s.css\">"
                             "<h1 id=\"out\">page <?php echo 6 * 7; ?></h1><p id=\"c\">c</p>";
    put("www/page.php", page);
    put("www/s.css", "#c { color: rgb(1, 1, 1); }\n");
    put("s.css", "#c { color: rgb(2, 2, 2); }\n");
    // The store writes to a file of this test's own.
    const auto store = app_services_manager().url;
    app_services_manager().url = std::filesystem::temp_directory_path() / keyringtest::unique("dravix-services.json");
    struct Restore {
        std::optional<std::filesystem::path> url;
        ~Restore() {
            if (app_services_manager().url) std::filesystem::remove(*app_services_manager().url);
            app_services_manager().url = url;
        }
    } restore{store};
    const std::string served = peer_.values.at("SITE_URL") + peer_.root.filename().string() + "/";
    auto edit = [&](std::optional<std::string> web_root, std::optional<std::string> site_url) {
        ServerFormModel::ServiceInfo info;
        info.nickname = server_->nickname;
        info.server_url = server_->url;
        info.username = server_->username;
        info.port = server_->port.value_or(0);
        info.web_root = std::move(web_root);
        info.site_url = std::move(site_url);
        std::optional<bool> saved;
        ServerFormModel::update_service(server_, info, server_->connection_type, [&](bool ok) { saved = ok; });
        ASSERT_TRUE(waitFor([&] { return saved.has_value(); }, 10000));
        ASSERT_TRUE(*saved);
    };
    auto* screen = hub->previewScreen.get();
    auto items = [&] { return screen->navigationItem()->rightBarButtonItems().size(); };
    ASSERT_NE(window->service, server_) << "the window holds a copy of the saved record";

    // No web root: "/s.css" is the connection root's.
    hub->info.file_path = "/www/page.php";
    preview->push_preview_content(editor_support::preview_bucket("/www/page.php", page));
    ASSERT_TRUE(waitFor([&] { return text_of("c").is_string() && color("c") == "rgb(2, 2, 2)"; }, webtest::kPageLoadMs));
    const int pushed = preview->contents_pushed();

    struct Step {
        std::optional<std::string> web_root, site_url;
        const char* out;         // the page's heading: "page 42" when the web server ran it
        std::string href;        // where "Site" shows it ("" for "Live")
        const char* c_color;     // "Live": its root-relative style sheet's colour
        const char* title;
        std::size_t bar_items;   // "Live" and "Site", or none
    } const steps[] = {
        {"/www", std::nullopt, "page ", "", "rgb(1, 1, 1)", "Live Preview", 0},
        {"/www", served + "www/", "page 42", served + "www/page.php", nullptr, "Site Preview", 2},
        {"/", served, "page 42", served + "www/page.php", nullptr, "Site Preview", 2},
        {"/", std::nullopt, "page ", "", "rgb(2, 2, 2)", "Live Preview", 0},
    };
    for (const auto& step : steps) {
        const std::string what = step.web_root.value_or("-") + " " + step.site_url.value_or("-");
        edit(step.web_root, step.site_url);
        EXPECT_EQ(window->service->web_root, step.web_root) << what;
        EXPECT_EQ(window->service->site_url, step.site_url) << what;
        ASSERT_TRUE(waitFor([&] {
            if (text_of("out") != step.out) return false;
            if (!step.href.empty()) return js("location.href") == step.href;
            return js("location.protocol") == std::string(web::kSiteScheme) + ":" && color("c") == step.c_color;
        }, webtest::kPageLoadMs)) << what << ": " << js("location.href + ' ' + document.documentElement.outerHTML");
        EXPECT_EQ(screen->title(), step.title) << what;
        EXPECT_TRUE(waitFor([&] { return items() == step.bar_items; }, 5000)) << what;
    }
    EXPECT_EQ(preview->contents_pushed(), pushed) << "the editor sent nothing anew";
    EXPECT_TRUE(errors->errors.empty()) << errors->errors.front().text();
}

INSTANTIATE_TEST_SUITE_P(Php, PreviewSiteMode, ::testing::Values("pyftpd-php"));

// What a page's text, or a style sheet's, loads for certain: the files read ahead.
TEST(PreviewSiteReadAhead, TheFilesAPageOrAStyleSheetLoads) {
    struct Case {
        const char* from;  // the site path of the page or sheet
        const char* text;
        bool style_sheet;
        std::vector<std::string> paths;
    } const cases[] = {
        {"/pages/index.html",
         R"(<LINK rel="stylesheet" href="../css/a.css"><link rel=icon href=/fav.ico><link href='p.css' rel='preload'>
<link rel="alternate stylesheet" href="alt.css"><link rel="canonical" href="c.html"><script src="js/m.js?v=2#x"></script>
<script>var inline = 1;</script><img src="img/a%20b.png"><img srcset="b.png 1x"><img data-src="lazy.png">
<a href="other.html">x</a><iframe src="frame.html"></iframe><img src="../css/a.css">)",
         false,
         {"/css/a.css", "/fav.ico", "/pages/p.css", "/pages/js/m.js", "/pages/img/a b.png", "/pages/frame.html"}},
        {"/index.html",
         R"(<script src="https://cdn.example/x.js"></script><img src="data:image/png;base64,AAAA"><img src="//host/y.png">
<img src="../../up.png"><img src="#top">)",
         false, {"/up.png"}},
        {"/index.html", R"(<base href="/x/"><img src="a.png">)", false, {}},
        // Encoded dot segments resolve as the engine resolves them; a control character names no file.
        {"/index.html", R"(<img src="%2e%2e/secret.png"><img src="x/%2E/y.png"><img src="a%0Ab.png"><img src="ok.png">)",
         false, {"/secret.png", "/x/y.png", "/ok.png"}},
        {"/css/a.css", R"(@import "b.css"; @import url(../c.css) screen; @import url( 'd.css' );
#x { background: url(e.png); } @IMPORT 'f.css';)", true, {"/css/b.css", "/c.css", "/css/d.css", "/css/f.css"}},
    };
    for (const auto& c : cases) EXPECT_EQ(VornPreviewSite::linked_paths(c.from, c.text, c.style_sheet), c.paths) << c.text;
}

// Where "Site" finds a file: the Site URL plus its path under the web root.
TEST(PreviewSiteAddress, TheSiteUrlPlusThePathUnderTheWebRoot) {
    struct Case {
        const char* site_url;
        std::optional<std::string> web_root;
        const char* path;
        std::optional<std::string> address;
    } const cases[] = {
        {"https://example.com/", "/www", "/www/index.php", "https://example.com/index.php"},
        {"https://example.com", "/www/", "/www/a/b.html", "https://example.com/a/b.html"},
        {"https://example.com/blog/", "/www", "/www/a b.html", "https://example.com/blog/a%20b.html"},
        {"http://127.0.0.1:8080/x", std::nullopt, "/p.php", "http://127.0.0.1:8080/x/p.php"},
        {"https://example.com/?q=1#f", "/www", "/www/p.php", "https://example.com/p.php"},
        {"https://example.com/", "/www", "/notes/x.html", std::nullopt},
        {"https://example.com/", "/www", "/wwwx/x.html", std::nullopt},
        {"https://example.com/", "/www", "/www", std::nullopt},
        {"ftp://example.com/", "/www", "/www/p.php", std::nullopt},
        {"file:///var/www/", std::nullopt, "/p.php", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto got = VornPreviewJSConnector::site_address_for(c.site_url, c.web_root, c.path);
        EXPECT_EQ(got ? std::optional<std::string>(got->toString(QUrl::FullyEncoded).toStdString()) : std::nullopt,
                  c.address)
            << c.site_url << " " << c.path;
    }
}

INSTANTIATE_TEST_SUITE_P(Protocols, PreviewSite, ::testing::Values("pyftpd", "vsftpd-tls", "sshd", "apache", "nginx"),
                         [](const auto& info) {
                             std::string name = info.param;
                             name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                             return name;
                         });

}  // namespace
