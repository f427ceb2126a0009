// Files in their own encodings through document windows, against the local FTP and SFTP servers,
// checked on the server's disk byte for byte: each declaration (BOM, meta, http-equiv, @charset,
// XML, none) read, saved unedited and saved with an edit; a file whose bytes do not all read; a
// character the encoding cannot hold; the live preview's page read in its encoding.
#include <gtest/gtest.h>

#include <QMenu>

#include <string>
#include <vector>

#include "DocumentTestSupport.h"
#include "platform/text/IconvBytes.h"
#include "tandrel/editor/EditorWebViewController.h"
#include "tandrel/editor/VornEditorJSConnector.h"

using namespace documenttest;
using texttest::iconvBytes;

namespace {

struct EncodedFile {
    const char* name;
    std::string bytes;   // the file on the server
    std::string text;    // what the page shows
    std::string typed;   // appended in the page
    std::string typedBytes;
    const char* encoding;
    const char* bar;     // the bar's encoding item
};

void PrintTo(const EncodedFile& c, std::ostream* os) { *os << c.name; }

// A file made by iconv: its bytes, and the typed text's, in `iconv`'s encoding.
EncodedFile made(const char* name, const std::string& text, const std::string& typed, const char* iconv,
                 const char* encoding, const char* bar, const std::string& bom = {}) {
    return EncodedFile{name, bom + iconvBytes(text, iconv), text, typed, iconvBytes(typed, iconv), encoding, bar};
}

std::vector<EncodedFile> files() {
    return {
        made("bom.html", "<meta charset=\"windows-1251\">\r\n<p>Grüße 日本</p>\r\n", "<p>語</p>", "UTF-8", "UTF-8",
             "UTF-8 BOM \u00B7 CRLF", "\xEF\xBB\xBF"),
        made("sjis.html", "<meta charset=\"Shift_JIS\">\n<p>日本語のページ</p>\n", "<p>追記</p>", "CP932", "Shift_JIS",
             "Shift_JIS \u00B7 LF"),
        made("ru.html",
             "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1251\">\r\n<p>Привет, мир</p>\r\n",
             "<p>ещё</p>", "CP1251", "windows-1251", "windows-1251 \u00B7 CRLF"),
        made("koi.htm", "<META HTTP-EQUIV='content-type' CONTENT='text/html;charset=koi8-r'>\n<p>Привет</p>\n", "<p>ещё</p>",
             "KOI8-R", "KOI8-R", "KOI8-R \u00B7 LF"),
        made("latin.css", "@charset \"ISO-8859-15\";\nh1::before { content: \"€ café\"; }\n", "/* œ */", "ISO-8859-15",
             "ISO-8859-15", "ISO-8859-15 \u00B7 LF"),
        made("feed.xml", "<?xml version=\"1.0\" encoding=\"EUC-JP\"?>\n<r>日本</r>\n", "<!-- 追記 -->", "EUC-JP", "EUC-JP",
             "EUC-JP \u00B7 LF"),
        made("cn.html", "<meta charset=\"gb18030\">\n<p>中文网页 \U00020000</p>\n", "<p>追加</p>", "GB18030", "gb18030",
             "gb18030 \u00B7 LF"),
        made("tw.html", "<meta charset=\"big5\">\n<p>繁體中文</p>\n", "<p>網頁</p>", "BIG5", "Big5", "Big5 \u00B7 LF"),
        made("wide.txt", "Grüße\r\n日本\r\n", "語", "UTF-16LE", "UTF-16LE", "UTF-16LE \u00B7 CRLF", "\xFF\xFE"),
        made("plain.php",
             "<?php echo 'Voilà'; ?>\n<p>Le café était déjà prêt, et la crème brûlée aussi. Où est le garçon ?</p>\n"
             "<p>Dès le début, les élèves ont répété leçons et exercices.</p>\n",
             "<p>Noël</p>", "CP1252", "windows-1252", "windows-1252 \u00B7 LF"),
        // Windows-1252's unassigned bytes, and line breaks of every kind, each kept where it was.
        EncodedFile{"legacy.html", "<meta charset=\"iso-8859-1\">\r\n<p>\x81\x8D\x8F\x90\x9D</p>\n<p>Caf\xE9</p>\r<p>x</p>",
                    "<meta charset=\"iso-8859-1\">\r\n<p>\u0081\u008D\u008F\u0090\u009D</p>\n<p>Caf\u00e9</p>\r<p>x</p>", "<p>Ü</p>",
                    "<p>\xDC</p>", "windows-1252", "windows-1252 \u00B7 Mixed"},
    };
}

class DocumentEncoding : public DocumentTest {
protected:
    // The save command; whether it wrote, or nothing while it asks the user.
    std::optional<bool> save(DocumentSceneDelegate* doc) {
        auto written = std::make_shared<std::optional<bool>>();
        managerOf(doc)->main_controller->request_save([written](bool w) { *written = w; });
        waitFor([&] { return written->has_value() || alertOf(doc) != nullptr; }, 60000);
        return *written;
    }
    // Types at the end of the text.
    void append(DocumentSceneDelegate* doc, const std::string& text) {
        page(doc, "editor.navigateFileEnd(); editor.insert(" + json(text).dump() + ")");
    }
    static QString barTitle(DocumentSceneDelegate* doc) {
        auto* m = managerOf(doc);
        auto* editor = m ? m->ext_editor_vc.get() : nullptr;
        return editor && editor->encoding_bar_item ? editor->encoding_bar_item->title() : QString();
    }
    bool waitForBar(DocumentSceneDelegate* doc, const char* title) {
        return waitFor([&] { return barTitle(doc) == QString::fromUtf8(title); }, 10000);
    }
    // Opens the file's bytes from the file browser and waits for the page's text.
    DocumentSceneDelegate* openBytes(const std::string& name, const std::string& bytes, const std::string& text) {
        putFile(name, bytes);
        DocumentSceneDelegate* doc = openFromBrowser(name);
        return doc && waitForPageText(doc, text) ? doc : nullptr;
    }
};

class DocumentEncodingTable : public DocumentEncoding,
                              public ::testing::WithParamInterface<std::tuple<std::string, EncodedFile>> {};

TEST_P(DocumentEncodingTable, TheFileOpensInItsEncodingAndSavesBackByteForByte) {
    const auto& [kind, file] = GetParam();
    CONNECT_OR_SKIP(kind);
    ASSERT_FALSE(file.bytes.empty()) << "iconv could not make the file";
    DocumentSceneDelegate* doc = openBytes(file.name, file.bytes, file.text);
    ASSERT_TRUE(doc) << "the page shows: " << pageText(doc).value_or("(nothing)");
    EXPECT_TRUE(waitForBar(doc, file.bar)) << barTitle(doc).toStdString();
    ASSERT_TRUE(waitFor([&] { return record(doc, std::string("/") + file.name) != nullptr; }, 10000));
    ASSERT_TRUE(record(doc, std::string("/") + file.name)->text_format);
    EXPECT_EQ(record(doc, std::string("/") + file.name)->text_format->encoding, file.encoding);

    // Unedited, the save gives the very bytes read; an edit changes only its own.
    ASSERT_EQ(save(doc), true);
    EXPECT_EQ(diskText(file.name), file.bytes);
    append(doc, file.typed);
    ASSERT_TRUE(waitForPageText(doc, file.text + file.typed));
    ASSERT_EQ(save(doc), true);
    EXPECT_EQ(diskText(file.name), file.bytes + file.typedBytes);
}

INSTANTIATE_TEST_SUITE_P(Files, DocumentEncodingTable,
                         ::testing::Combine(::testing::Values("pyftpd", "sshd"), ::testing::ValuesIn(files())),
                         [](const ::testing::TestParamInfo<std::tuple<std::string, EncodedFile>>& info) {
                             std::string name = std::get<0>(info.param) + "_" + std::get<1>(info.param).name;
                             for (char& c : name)
                                 if (c == '.') c = '_';
                             return name;
                         });

// In a file of mixed line breaks, an edit changes only the bytes of what was edited: a line break
// typed takes the file's first kind, every other line keeps its own.
TEST_F(DocumentEncoding, MixedLineBreaksStayEachLinesOwnThroughEdits) {
    CONNECT_OR_SKIP("pyftpd");
    const std::string bytes = "a\r\nb\nc\rd\r\n";
    DocumentSceneDelegate* doc = openBytes("mixed.txt", bytes, bytes);
    ASSERT_TRUE(doc);
    EXPECT_TRUE(waitForBar(doc, "UTF-8 \u00B7 Mixed"));
    page(doc, "editor.gotoLine(2, 1); editor.insert('X'); editor.insert('\\n')");
    page(doc, "editor.gotoLine(4, 0); editor.removeLines()");  // the line "c" and its CR
    ASSERT_EQ(save(doc), true);
    EXPECT_EQ(diskText("mixed.txt"), "a\r\nbX\r\n\nd\r\n");
}

// Bytes the file's encoding does not define: the file opens read-only, says so, and is never
// written from its text; reopened in an encoding that holds every byte it is edited and saved.
TEST_F(DocumentEncoding, AFileWhoseBytesDoNotReadStaysReadOnlyUntilReopenedInAnEncodingThatHoldsThem) {
    CONNECT_OR_SKIP("pyftpd");
    const std::string bytes = "<meta charset=\"windows-1253\">\n<p>\xD2 \xE1\xE2</p>\n";
    putFile("greek.html", bytes);
    DocumentSceneDelegate* doc = openFromBrowser("greek.html");
    ASSERT_TRUE(doc);
    auto* alert = awaitAlert(doc);
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->alertTitle(), VornEditorJSConnector::kLossyTitle);
    EXPECT_NE(alert->message().toStdString().find("(the first at byte 33) do not read as Greek (Windows-1253)"), std::string::npos)
        << alert->message().toStdString();
    alert->performAction(0);
    ASSERT_TRUE(waitForPageText(doc, "<meta charset=\"windows-1253\">\n<p>\uFFFD \u03b1\u03b2</p>\n"));
    EXPECT_TRUE(waitForBar(doc, "windows-1253 \u00B7 LF \u00B7 Read-Only"));
    EXPECT_TRUE(waitFor([&] { return pageQuiet(doc, "editor.getReadOnly()") == true; }, 5000));
    ASSERT_TRUE(waitFor([&] { return alertOf(doc) == nullptr; }, 5000));
    EXPECT_EQ(save(doc), false) << "a lossy text was written";
    alert = awaitAlert(doc);
    ASSERT_TRUE(alert);
    EXPECT_NE(alert->message().toStdString().find("do not read as Greek (Windows-1253)"), std::string::npos);
    alert->performAction(0);
    ASSERT_TRUE(waitFor([&] { return alertOf(doc) == nullptr; }, 5000));
    EXPECT_EQ(diskText("greek.html"), bytes);

    managerOf(doc)->reopen_with_encoding("windows-1252");
    ASSERT_TRUE(waitForPageText(doc, "<meta charset=\"windows-1253\">\n<p>\u00d2 \u00e1\u00e2</p>\n"));
    EXPECT_TRUE(waitForBar(doc, "windows-1252 \u00B7 LF"));
    EXPECT_TRUE(waitFor([&] { return pageQuiet(doc, "editor.getReadOnly()") == false; }, 5000));
    append(doc, "\u00fc");
    ASSERT_EQ(save(doc), true);
    EXPECT_EQ(diskText("greek.html"), bytes + "\xFC");
}

// A character the encoding cannot hold refuses the save before anything is sent, naming the
// character and its line; "Save as UTF-8" changes the declaration where the user sees it and
// writes the text as UTF-8.
TEST_F(DocumentEncoding, ACharacterTheEncodingCannotHoldIsNamedAndTheFileCanBeSavedAsUtf8) {
    CONNECT_OR_SKIP("pyftpd");
    const std::string bytes = "<meta charset=\"windows-1252\">\n<p>caf\xE9</p>\n";
    DocumentSceneDelegate* doc = openBytes("w.html", bytes, "<meta charset=\"windows-1252\">\n<p>caf\u00e9</p>\n");
    ASSERT_TRUE(doc);
    append(doc, "<p>語</p>");
    EXPECT_EQ(save(doc), std::nullopt) << "the save did not ask";
    auto* alert = alertOf(doc);
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->alertTitle(), VornEditorJSConnector::kUnencodableTitle);
    const std::string message = alert->message().toStdString();
    EXPECT_NE(message.find("\u201C語\u201D (U+8A9E) on line 3 cannot be saved in Western (Windows-1252)"), std::string::npos)
        << message;
    EXPECT_NE(message.find("\u201Cwindows-1252\u201D is changed to \u201CUTF-8\u201D"), std::string::npos) << message;
    EXPECT_EQ(diskText("w.html"), bytes) << "something was sent";

    ASSERT_TRUE(choose(doc, VornEditorJSConnector::kSaveAsUtf8));
    const std::string utf8 = "<meta charset=\"UTF-8\">\n<p>caf\u00e9</p>\n<p>語</p>";
    EXPECT_TRUE(waitFor([&] { return diskText("w.html") == utf8; }, 30000)) << diskText("w.html");
    EXPECT_EQ(pageText(doc), utf8);
    EXPECT_TRUE(waitForBar(doc, "UTF-8 \u00B7 LF"));
    EXPECT_EQ(record(doc, "/w.html")->text_format->encoding, "UTF-8");
}

// The bar's encoding menu: "Save with Encoding" writes the file in another encoding, its
// declaration changed to name it; "Reopen with Encoding" reads the server's bytes again in the
// one chosen.
TEST_F(DocumentEncoding, TheBarsMenuSavesAndReopensInAnotherEncoding) {
    CONNECT_OR_SKIP("pyftpd");
    DocumentSceneDelegate* doc = openBytes("menu.html", "<meta charset=\"utf-8\">\n<p>\u00e9</p>\n",
                                           "<meta charset=\"utf-8\">\n<p>\u00e9</p>\n");
    ASSERT_TRUE(doc);
    EXPECT_TRUE(waitForBar(doc, "UTF-8 \u00B7 LF"));
    auto choose_entry = [&](const char* list, const char* entry) {
        auto menu = managerOf(doc)->ext_editor_vc->build_encoding_menu();
        for (QAction* submenu : menu->actions()) {
            if (submenu->text() != QString::fromLatin1(list)) continue;
            for (QAction* action : submenu->menu()->actions()) {
                if (action->text() == QString::fromUtf8(entry)) {
                    action->trigger();
                    return true;
                }
            }
        }
        return false;
    };
    ASSERT_TRUE(choose_entry(EditorWebViewController::kSaveWithEncoding, "Western (Windows-1252)"));
    EXPECT_TRUE(waitFor([&] { return diskText("menu.html") == "<meta charset=\"windows-1252\">\n<p>\xE9</p>\n"; }, 30000))
        << diskText("menu.html");
    EXPECT_EQ(pageText(doc), "<meta charset=\"windows-1252\">\n<p>\u00e9</p>\n");
    EXPECT_TRUE(waitForBar(doc, "windows-1252 \u00B7 LF"));

    ASSERT_TRUE(choose_entry(EditorWebViewController::kReopenWithEncoding, "Unicode (UTF-8)"));
    auto* alert = awaitAlert(doc);
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->alertTitle(), VornEditorJSConnector::kLossyTitle);
    alert->performAction(0);
    EXPECT_TRUE(waitForPageText(doc, "<meta charset=\"windows-1252\">\n<p>\uFFFD</p>\n")) << pageText(doc).value_or("(none)");
    EXPECT_TRUE(waitForBar(doc, "UTF-8 \u00B7 LF \u00B7 Read-Only"));
}

// The preview renders the page in its encoding (the page reads it so), its style sheets each in
// their own: one from the server as it is there, one open in another window with that window's
// text.
TEST_F(DocumentEncoding, ThePreviewReadsThePageAndItsStyleSheetsInTheirEncodings) {
    CONNECT_OR_SKIP("pyftpd");
    putFile("jp.css", "@charset \"windows-1252\";\nh1::before { content: \"\xE9\"; }\n");
    DocumentSceneDelegate* sheet =
        openBytes("open.css", "@charset \"ISO-8859-15\";\np::before { content: \"\xA4\"; }\n",
                  "@charset \"ISO-8859-15\";\np::before { content: \"\u20ac\"; }\n");
    ASSERT_TRUE(sheet);
    append(sheet, "p::after { content: \"\u00fc\"; }\n");
    const std::string html =
        "<html><head><meta charset=\"Shift_JIS\"><link rel=\"stylesheet\" href=\"jp.css\">"
        "<link rel=\"stylesheet\" href=\"open.css\"></head><body><h1>日本語</h1><p>テキスト</p></body></html>\n";
    putFile("jp.html", iconvBytes(html, "CP932"));
    const int before = connected;
    SceneManager::open_document_scene(server_->id, file_bucket_id_for_path("/jp.html"), true,
                                      [](const VornError& e) { ADD_FAILURE() << e.text(); });
    ASSERT_TRUE(waitFor([&] { return connected > before; }, 10000));
    DocumentSceneDelegate* doc = documentOf(app().connectedScenes().last());
    ASSERT_TRUE(doc && waitForPageText(doc, html));
    auto* view = managerOf(doc)->ext_webview_vc->previewWebView();
    ASSERT_TRUE(view);
    auto preview = [&](const std::string& script) {
        auto out = webtest::run(*view, script, 5000);
        return out.done && out.result.is_string() ? out.result.get<std::string>() : std::string();
    };
    auto style = [&](const char* selector, const char* pseudo, const char* property) {
        return preview(std::string("(function(){var e=document.querySelector('") + selector +
                       "');return e?getComputedStyle(e,'" + pseudo + "')." + property + ":'';})()");
    };
    ASSERT_TRUE(waitFor([&] { return preview("document.body ? document.body.innerText : ''").find("日本語") != std::string::npos; },
                        30000));
    EXPECT_EQ(preview("document.characterSet"), "Shift_JIS");
    EXPECT_TRUE(waitFor([&] { return style("h1", "::before", "content") == "\"\u00e9\""; }, 10000)) << style("h1", "::before", "content");
    EXPECT_TRUE(waitFor([&] { return style("p", "::after", "content") == "\"\u00fc\""; }, 10000)) << style("p", "::after", "content");
    EXPECT_EQ(style("p", "::before", "content"), "\"\u20ac\"");
    // Each served with its file's charset (the engine writes the type its own way).
    auto type = [&](const char* path) {
        return preview(std::string("(function(){var r=new XMLHttpRequest();r.open('GET','") + path +
                       "',false);r.send();return (r.getResponseHeader('content-type')||'').toLowerCase().replace(/ /g,'');})()");
    };
    EXPECT_EQ(type("jp.html"), "text/html;charset=shift_jis");
    EXPECT_EQ(type("jp.css"), "text/css;charset=windows-1252");
    EXPECT_EQ(type("open.css"), "text/css;charset=iso-8859-15");
}

}  // namespace
