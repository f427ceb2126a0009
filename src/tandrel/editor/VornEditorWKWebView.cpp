#include "tandrel/editor/VornEditorWKWebView.h"

#include "platform/ui/View.h"

#include <QChildEvent>
#include <QGuiApplication>
#include <QKeyEvent>

#include "tandrel/editor/EditorScripts.h"
#include "tandrel/foundation/AMZLogger.h"

VornEditorWKWebView::VornEditorWKWebView(QWidget* parent) : web::WebView(parent) {
    // The editor fades in and out as its file opens: by cover, so that the page's reads of its
    // document are not held up by the fade.
    ui::setFadesByCover(this);
    if (focusProxy()) focusProxy()->installEventFilter(this);
}

VornEditorWKWebView::~VornEditorWKWebView() = default;

QClipboard* VornEditorWKWebView::general_pasteboard() {
    static QClipboard* const pasteboard = QGuiApplication::clipboard();
    return pasteboard;
}

void VornEditorWKWebView::copy(const ui::Command&) {
    auto* connector = editor_wv_delegatex.get();
    if (!connector) return;
    QPointer<QObject> target = editor_wv_delegatex.object();
    connector->run_editor_js(editor_script::get_selected_content(),
                             [target, connector](nlohmann::json reply, std::optional<VornError> error) {
                                 if (target) connector->copy_selected_content(reply, error);
                             });
}

void VornEditorWKWebView::paste(const ui::Command&) { paste_from_pasteboard(); }

void VornEditorWKWebView::undo(const ui::Command&) {
    if (auto* connector = editor_wv_delegatex.get()) connector->run_editor_js(editor_script::undo());
}

void VornEditorWKWebView::redo(const ui::Command&) {
    if (auto* connector = editor_wv_delegatex.get()) connector->run_editor_js(editor_script::redo());
}

void VornEditorWKWebView::cut(const ui::Command& sender) {
    auto* connector = editor_wv_delegatex.get();
    if (!connector) return;
    // The page runs scripts in order: the selection is read for the copy before it is removed.
    copy(sender);
    connector->run_editor_js(editor_script::remove_selection());
}

void VornEditorWKWebView::selectAll(const ui::Command&) {
    if (auto* connector = editor_wv_delegatex.get()) connector->run_editor_js(editor_script::select_all());
}

bool VornEditorWKWebView::put_on_pasteboard(const std::optional<std::string>& text) {
    if (text) {
        general_pasteboard()->setText(QString::fromStdString(*text));
        AMZLogger::shared().log_verbose("Action content: " + *text);
    }
    return true;
}

void VornEditorWKWebView::paste_from_pasteboard() {
    const QString text = general_pasteboard()->text();
    if (text.isNull()) return;
    if (auto* connector = editor_wv_delegatex.get()) {
        connector->run_editor_js(editor_script::insert_content(text.toStdString()));
    }
}

// The page's own copy and paste keys take the same road as the Edit commands.
bool VornEditorWKWebView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const bool isCopy = key->matches(QKeySequence::Copy);
        const bool isPaste = key->matches(QKeySequence::Paste);
        if ((isCopy || isPaste) && editor_wv_delegatex) {
            if (event->type() == QEvent::ShortcutOverride) {
                event->accept();
                return true;
            }
            if (isCopy) copy({});
            else paste({});
            return true;
        }
    }
    return web::WebView::eventFilter(watched, event);
}

void VornEditorWKWebView::childEvent(QChildEvent* event) {
    web::WebView::childEvent(event);
    // The engine's render widget arrives after construction, and again after a renderer restart.
    if (event->type() == QEvent::ChildPolished && focusProxy()) {
        focusProxy()->removeEventFilter(this);
        focusProxy()->installEventFilter(this);
    }
}
