#pragma once
// The editor page's web view. Copy and paste go through the page's editing sessions (the text
// lives there), never through the web view's own selection: the Edit commands "copy:" and
// "paste:" and the copy and paste keys all take this road. The other Edit commands (undo, redo,
// cut, select all) reach the page's editor the same way while the page has the focus.
#include <QClipboard>

#include "platform/web/WebView.h"
#include "platform/ui/Responder.h"
#include "tandrel/editor/ProtocolLink.h"
#include "tandrel/editor/VornEditorWKWebViewProtocol.h"

class VornEditorWKWebView : public web::WebView {
    Q_OBJECT
public:
    explicit VornEditorWKWebView(QWidget* parent = nullptr);
    ~VornEditorWKWebView() override;

    // The editor's connector; set by the editor screen.
    ProtocolLink<VornEditorWKWebViewProtocol> editor_wv_delegatex;

    Q_INVOKABLE void copy(const ui::Command& sender);
    Q_INVOKABLE void paste(const ui::Command& sender);
    Q_INVOKABLE void undo(const ui::Command& sender);
    Q_INVOKABLE void redo(const ui::Command& sender);
    Q_INVOKABLE void cut(const ui::Command& sender);
    Q_INVOKABLE void selectAll(const ui::Command& sender);
    // Puts the text on the general pasteboard; always true.
    static bool put_on_pasteboard(const std::optional<std::string>& text);
    void paste_from_pasteboard();

    // The process's general pasteboard.
    static QClipboard* general_pasteboard();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void childEvent(QChildEvent* event) override;
};
