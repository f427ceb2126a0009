#include "tandrel/editor/EditorWebViewController.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QToolButton>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QShortcut>
#include <QTimer>
#include <QUrl>

#include "platform/dispatch/Dispatch.h"
#include "platform/files/RemotePath.h"
#include "platform/text/TextEncoding.h"
#include "platform/ui/Idiom.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/SplitViewController.h"
#include "platform/ui/View.h"
#include "platform/ui/scenes/Scene.h"
#include "platform/ui/scenes/Window.h"
#include "platform/web/WebProfile.h"
#include "platform/web/WebView.h"
#include "tandrel/editor/DocumentInterfaceManager.h"
#include "tandrel/editor/EditorScripts.h"
#include "tandrel/editor/MainViewController.h"
#include "tandrel/editor/VORNSplitViewController.h"
#include "tandrel/editor/VornEditorJSConnector.h"
#include "tandrel/editor/VornEditorWKWebView.h"
#include "tandrel/editor/VornPreviewJSConnector.h"
#include "tandrel/editor/WebViewController.h"
#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/foundation/EnumManager.h"
#include "tandrel/foundation/TandrelExtensions.h"
#include "tandrel/foundation/UIViewTandrel.h"
#include "tandrel/foundation/VORNPresenterUtility.h"
#include "tandrel/foundation/VornAppUrlUtility.h"
#include "tandrel/foundation/VornServerFilesDataModel.h"
#include "tandrel/foundation/VornServicesManager.h"
#include "tandrel/foundation/VornSessionsDataModel.h"
#include "tandrel/foundation/VornCurrentEditorStateInfo.h"
#include "tandrel/foundation/XCol.h"

namespace {
using Err = EnumManager::vorn_error_throws;

ui::BarButtonItemRef empty_item() { return ui::BarButtonItem::withTitle(QString(), ui::BarButtonItemStyle::plain, nullptr, QString()); }

ui::Image tinted_symbol(const char* name, const QColor& color) {
    return ui::Image::systemImage(QString::fromLatin1(name)).withTintColor(color, ui::RenderingMode::alwaysOriginal);
}

constexpr double kFadeSeconds = 0.2;

// A symbol drawn in a colour of the palette at a see-through level, resolved whenever it is drawn
// (so it follows the appearance).
class SymbolView : public QWidget {
public:
    SymbolView(ui::Image image, ui::DynamicColor color, double alpha, QWidget* parent)
        : QWidget(parent), image_(std::move(image)), color_(std::move(color)), alpha_(alpha) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    QSize sizeHint() const override { return image_.size().toSize(); }

protected:
    void paintEvent(QPaintEvent*) override {
        const QSize side = image_.size().toSize().scaled(size(), Qt::KeepAspectRatio);
        const QRect target((width() - side.width()) / 2, (height() - side.height()) / 2, side.width(), side.height());
        QPainter painter(this);
        painter.setOpacity(alpha_);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawPixmap(target, image_.pixmap(side.expandedTo(QSize(1, 1)), devicePixelRatioF(), color_.resolvedFor(this)));
    }

private:
    ui::Image image_;
    ui::DynamicColor color_;
    double alpha_;
};

// One editor page kept loaded in the background, so that the next editor screen starts with a
// page that is ready instead of waiting for the page (and Ace) to load.
struct WarmPage {
    QPointer<VornEditorWKWebView> view;
    std::filesystem::path file;
    bool ready = false;
};
WarmPage& warm_page() {
    static WarmPage page;
    return page;
}

// A page loaded from the app's editor folder as it is now, that has reported "doc_ready", or
// nothing. Its handlers are gone; the caller owns it.
VornEditorWKWebView* take_warm_page() {
    WarmPage& w = warm_page();
    const auto folder = VornAppUrlUtility::ace_folder_url();
    if (!w.view || !w.ready || !folder || w.file != *folder / "index.html") return nullptr;
    VornEditorWKWebView* web = w.view.data();
    web->removeAllMessageHandlers();
    w = WarmPage{};
    return web;
}
}  // namespace

void EditorWebViewController::prepare_warm_page() {
    WarmPage& w = warm_page();
    const auto folder = VornAppUrlUtility::ace_folder_url();
    if (!folder) return;
    if (w.view && w.file == *folder / "index.html") return;
    delete w.view.data();
    w = WarmPage{};
    auto* web = new VornEditorWKWebView();
    web->resize(800, 600);
    QPointer<VornEditorWKWebView> guard(web);
    web->addMessageHandler("msg", [guard](const web::ScriptMessage& message) {
        WarmPage& current = warm_page();
        if (guard && current.view == guard && message.body.is_object() && message.body.contains("doc_ready")) {
            current.ready = true;
        }
    });
    if (!web->loadFileUrl(*folder / "index.html", *folder)) {
        delete web;
        return;
    }
    w.view = web;
    w.file = *folder / "index.html";
    static bool hooked = false;
    if (!hooked && qApp) {
        hooked = true;
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, [] { delete warm_page().view.data(); });
    }
}

void EditorWebViewController::discard_warm_page() {
    WarmPage& w = warm_page();
    delete w.view.data();
    w = WarmPage{};
}

bool EditorWebViewController::warm_page_ready() {
    const WarmPage& w = warm_page();
    return w.view && w.ready;
}

EditorWebViewController::EditorWebViewController()
    : close_bar_item(empty_item()),
      preview_bar_item(empty_item()),
      save_bar_button(empty_item()),
      toggle_preview_button(empty_item()),
      empty_view(new QWidget()) {}

EditorWebViewController::~EditorWebViewController() {
    // A view that never loaded never took the empty state in.
    if (empty_view && !empty_view->parentWidget()) delete empty_view.data();
    if (editorWebView_ && !editorWebView_->parentWidget()) delete editorWebView_.data();
}

DocumentInterfaceManager* EditorWebViewController::manager() const {
    return qobject_cast<DocumentInterfaceManager*>(scene_delegatex.data());
}

// ---- life cycle -----------------------------------------------------------------------------------

void EditorWebViewController::viewDidLoad() {
    VornDocViewController::viewDidLoad();
    QWidget* root = view();
    root->setAutoFillBackground(true);
    root->setBackgroundRole(QPalette::Window);
    setTitle(QStringLiteral("Editor"));
    (void)editorWebView();
    show_empty_state();
    make_bar_buttons();
    update_bar_buttons();
}

void EditorWebViewController::viewWillAppear(bool animated) { VornDocViewController::viewWillAppear(animated); }

void EditorWebViewController::viewDidAppear(bool animated) { VornDocViewController::viewDidAppear(animated); }

void EditorWebViewController::user_interface_style_did_change(const ui::TraitCollection&, const ui::TraitCollection&) {}

void EditorWebViewController::released() {
    AMZLogger::shared().log_verbose("denint EditorWebViewController");
    if (!web_view_released) {
        web_view_released = true;
        if (jsc && editorWebView_) {
            VornEditorWKWebView* view = editorWebView_.data();
            jsc->detach_web_view(view);
            view->hide();
            view->setParent(nullptr);
            view->deleteLater();
        }
    }
    VornDocViewController::released();
}

// ---- the web view ---------------------------------------------------------------------------------

VornEditorWKWebView* EditorWebViewController::editorWebView() {
    if (!editorWebView_) editorWebView_ = make_editor_web_view();
    return editorWebView_.data();
}

VornEditorWKWebView* EditorWebViewController::make_editor_web_view() {
    if (VornEditorWKWebView* ready = take_warm_page()) {
        page_preloaded = true;
        if (QWidget* root = viewIfLoaded()) ready->resize(root->size());
        ready->setContextMenuPolicy(Qt::NoContextMenu);
        return ready;
    }
    // The page reads the files of its own folder only (loadFileUrl grants that folder). Nothing
    // loads before the editor page: a blank page from memory would start a page process of its
    // own that the editor page, from a file, could not use, and the editor page would wait for
    // a second one.
    auto* web = new VornEditorWKWebView();
    if (QWidget* root = viewIfLoaded()) web->resize(root->size());
    web->setContextMenuPolicy(Qt::NoContextMenu);
    return web;
}

void EditorWebViewController::setup_editor_web_view() {
    if (loaded) return;
    loaded = true;
    web::clearWebsiteData();
    fade_in_empty_view();

    QWidget* root = view();
    VornEditorWKWebView* web = editorWebView();
    web->setParent(root);
    web->setAccessibleName(QStringLiteral("Editor"));
    // Tab indents in the editor page: Ctrl+Tab (Ctrl+Shift+Tab) moves the focus on to the
    // window's next (previous) control, as code editors do.
    for (const bool forward : {true, false}) {
        auto* leave = new QShortcut(forward ? QKeySequence(Qt::CTRL | Qt::Key_Tab) : QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab),
                                    root);
        leave->setContext(Qt::WidgetWithChildrenShortcut);
        QPointer<QWidget> page(web);
        QObject::connect(leave, &QShortcut::activated, root, [page, forward] {
            QWidget* from = QApplication::focusWidget();
            if (!page || !from) return;
            for (QWidget* w = forward ? from->nextInFocusChain() : from->previousInFocusChain(); w && w != from;
                 w = forward ? w->nextInFocusChain() : w->previousInFocusChain()) {
                if (w == page || page->isAncestorOf(w) || w->isWindow()) continue;
                if (!w->isVisible() || !w->isEnabled() || !(w->focusPolicy() & Qt::TabFocus)) continue;
                if (w->window() != page->window()) continue;
                w->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
                return;
            }
        });
    }

    DocumentInterfaceManager* m = manager();
    if (m) {
        jsc = is_compact ? m->editor_compact_js_connector : m->editor_js_connector;
    } else {
        jsc.reset();
    }
    web->editor_wv_delegatex = jsc.get();

    util_align_right_anchorWithPixel(web, 0.0, true);
    util_align_left_anchorWithPixel(web, 0.0, true);
    util_align_top_anchorWithPixel(web, 0.0, true);
    util_align_bottom_anchorWithPixel(web, 0.0, false);
    web->show();
    // The empty state lies above the page until a file opens.
    if (empty_view) empty_view->raise();

    if (jsc) {
        jsc->attach_web_view(web);
        jsc->is_compact = is_compact;
    }
    if (page_preloaded && jsc) {
        // The page was ready before this screen took it: what it said then is said again now.
        jsc->handle_script_message(web::ScriptMessage{"msg", nlohmann::json{{"doc_ready", true}}});
        jsc->handle_script_message(web::ScriptMessage{"msg", nlohmann::json{{"requestPreferences", nlohmann::json::object()}}});
    } else {
        load_editor_page();
    }
}

void EditorWebViewController::load_editor_page() {
    const auto folder = VornAppUrlUtility::ace_folder_url();
    if (!folder) return;
    const std::filesystem::path request = *folder / "index.html";
    QPointer<EditorWebViewController> self(this);
    dispatch::mainQueue().async([self, request] {
        if (!self) return;
        self->load_url(request, [self](bool ok) {
            if (!ok && self) VORNPresenterUtility::present_error(self.data(), VornError(Err(Err::no_url)), "OK");
        });
    });
}

void EditorWebViewController::load_url(const std::optional<std::filesystem::path>& request,
                                       std::function<void(bool)> completion) {
    if (!request) {
        AMZLogger::shared().log_error("Function load_url error: No URL was provided to load.");
        if (completion) completion(false);
        return;
    }
    VornEditorWKWebView* web = editorWebView();
    if (web->isLoading()) web->stopLoading();
    if (request->empty()) return;
    const bool started = web->loadFileUrl(*request, request->parent_path());
    if (completion) completion(started);
}

// ---- opening files --------------------------------------------------------------------------------

void EditorWebViewController::open_file_content(std::shared_ptr<VornServerFileContentModel> content) {
    if (!jsc || !content) return;
    QPointer<EditorWebViewController> self(this);
    // A reopen in another encoding while the selection waits replaces the record: selecting the
    // record as it was would put the old text back over the new.
    const uint64_t reopens = jsc->reopen_count(content->id);
    dispatch::after(dispatch::mainQueue(), std::chrono::milliseconds(kOpenFileDelayMs), [self, content, reopens] {
        if (self && self->jsc && self->jsc->reopen_count(content->id) == reopens) self->select_file_session(content);
    });
}

void EditorWebViewController::select_file_session(std::shared_ptr<VornServerFileContentModel> content) {
    if (!jsc || !content) return;
    if (auto record = jsc->find_file_session(content->id)) {
        fade_out_empty_view();
        jsc->select_page_session(record);
        focus_first_file();
        // The next editor screen gets a page ready in the background once this one shows its
        // file: a page loading earlier would take the engine's time from this window's own.
        dispatch::after(dispatch::mainQueue(), std::chrono::milliseconds(kWarmPageDelayMs), [] { prepare_warm_page(); });
        // A previewable file shows in the preview once the page shows it (asked after the fade,
        // so the preview's copy of the text does not hold up the file's opening). A preview that
        // has had no content yet takes the text from the session's record, read back from the
        // page just before: the page's own copy would cross as a few more copies of the text.
        QPointer<EditorWebViewController> self(this);
        std::weak_ptr<VornEditorJSConnector> weak = jsc;
        const std::string id = content->id;
        dispatch::after(dispatch::mainQueue(), std::chrono::milliseconds(kPreviewAfterOpenMs), [self, weak, id] {
            DocumentInterfaceManager* m = self ? self->manager() : nullptr;
            if (!m || !m->my_current_editor_info.preview_supported || m->visible_editor_screen() != self.data()) return;
            auto connector = weak.lock();
            auto stored = connector ? connector->find_file_session(id) : nullptr;
            auto* preview = m->preview_js_connector.get();
            if (stored && preview && preview->push_first_content_from_state(stored->json)) return;
            m->request_preview_content();
        });
        return;
    }
    // No session yet: keep the page's current session, then open a new one for the content.
    std::weak_ptr<VornEditorJSConnector> weak = jsc;
    QPointer<EditorWebViewController> self(this);
    auto present = [self](std::optional<VornError> error) {
        if (error && self) VORNPresenterUtility::present_error(self.data(), error, "OK");
    };
    jsc->run_editor_js(editor_script::get_current_session(),
                       [weak, content, present](nlohmann::json reply, std::optional<VornError> error) {
                           auto connector = weak.lock();
                           if (!connector) return;
                           connector->update_file_session(reply, error, [weak, content, present](std::optional<VornError> e) {
                               if (auto c = weak.lock()) c->open_editor_session(e, content, present);
                           });
                       });
}

void EditorWebViewController::focus_first_file() {
    if (first_file_focused_ || !jsc) return;
    first_file_focused_ = true;
    // The desktop's window, with its one editor; a tablet's window moves its file between two.
    if (is_compact || ui::userInterfaceIdiom() != ui::Idiom::mac) return;
    VornEditorWKWebView* web = editorWebView();
    QWidget* window = web->window();
    if (!window || !web->isVisibleTo(window)) return;  // the window shows its other editor
    QWidget* focused = window->focusWidget();
    const bool on_control = focused && focused != web && !web->isAncestorOf(focused) && (focused->focusPolicy() & Qt::TabFocus);
    if (on_control) return;
    // As Tab puts it: into the page's first control, the editor's text.
    web->setFocus(Qt::TabFocusReason);
}

// ---- title ----------------------------------------------------------------------------------------

namespace {

const char* const kRetitleHooked = "_document_retitle_hooked";

// The editor screens that titled a window, in the order they did.
std::vector<QPointer<EditorWebViewController>>& titled_screens() {
    static std::vector<QPointer<EditorWebViewController>> screens;
    return screens;
}

void retitle_document_windows_later() {
    dispatch::mainQueue().async([] { EditorWebViewController::retitle_document_windows(); });
}

// A server as the user named it (its URL when it has no nickname).
std::string server_name(const std::optional<std::string>& service_id) {
    if (!service_id) return {};
    if (auto service = app_services_manager().find_service(*service_id))
        return service->nickname.empty() ? service->url : service->nickname;
    return *service_id;
}

}  // namespace

std::optional<QString> EditorWebViewController::window_title_for_path(const std::string& path) {
    if (path.empty() || !QUrl(QString::fromStdString(path)).isValid()) return std::nullopt;
    std::string component = path;
    while (component.size() > 1 && component.back() == '/') component.pop_back();
    if (auto slash = component.rfind('/'); slash != std::string::npos && component.size() > 1) {
        component = component.substr(slash + 1);
    }
    const std::string extension = path_extension(component);
    std::string base = component;
    if (!extension.empty()) base = component.substr(0, component.size() - extension.size() - 1);
    // A name that is not UTF-8 on the server shows U+FFFD for its odd bytes, as the listing does.
    base = files::path::forDisplay(base);
    return QString::fromStdString(base) + QStringLiteral(" \u00B7 ") + QString::fromStdString(extension).toUpper();
}

void EditorWebViewController::update_window_title(const std::string& path) {
    QPointer<EditorWebViewController> self(this);
    dispatch::mainQueue().async([self, path] {
        if (self) self->set_window_title(path);
    });
}

void EditorWebViewController::set_window_title(const std::string& path) {
    if (!window_title_for_path(path)) return;
    title_path_ = path;
    auto& screens = titled_screens();
    if (std::find(screens.begin(), screens.end(), this) == screens.end()) screens.emplace_back(this);
    auto* window = qobject_cast<ui::Window*>(hostWindow());
    if (window && !window->property(kRetitleHooked).toBool()) {
        // A window that goes leaves its title to the others: theirs may read alone again.
        window->setProperty(kRetitleHooked, true);
        QObject::connect(window, &QObject::destroyed, qApp, [] { retitle_document_windows_later(); });
    }
    retitle_document_windows();
}

std::vector<QString> EditorWebViewController::document_window_titles(const std::vector<TitleSubject>& subjects) {
    std::vector<QString> titles;
    for (const TitleSubject& s : subjects) titles.push_back(window_title_for_path(s.path).value_or(QString()));
    std::vector<QString> out = titles;
    for (size_t i = 0; i < subjects.size(); ++i) {
        std::vector<size_t> alike;
        for (size_t j = 0; j < subjects.size(); ++j)
            if (!titles[i].isEmpty() && titles[j] == titles[i]) alike.push_back(j);
        if (alike.size() < 2) continue;
        const bool serversDiffer = std::any_of(alike.begin(), alike.end(),
                                               [&](size_t j) { return subjects[j].server != subjects[i].server; });
        std::string folder = files::path::parent(subjects[i].path);
        if (folder.empty()) folder = "/";
        out[i] = titles[i] + QStringLiteral(" \u2014 ") + QString::fromStdString(files::path::forDisplay(folder));
        if (serversDiffer && !subjects[i].server.empty())
            out[i] += QStringLiteral(" \u2014 ") + QString::fromStdString(subjects[i].server);
    }
    return out;
}

void EditorWebViewController::retitle_document_windows() {
    struct Titled {
        EditorWebViewController* screen;
        ui::Window* window;
    };
    std::vector<Titled> windows;
    std::vector<TitleSubject> subjects;
    auto& screens = titled_screens();
    screens.erase(std::remove(screens.begin(), screens.end(), nullptr), screens.end());
    for (const QPointer<EditorWebViewController>& screen : screens) {
        auto* window = qobject_cast<ui::Window*>(screen->hostWindow());
        if (!window || !screen->title_path_) continue;
        const bool seen = std::any_of(windows.begin(), windows.end(), [&](const Titled& t) { return t.window == window; });
        if (seen) continue;  // the window's other editor (regular or compact) shows the same file
        DocumentInterfaceManager* m = screen->manager();
        windows.push_back({screen.data(), window});
        subjects.push_back({*screen->title_path_, m ? server_name(m->my_current_editor_info.service_session_id) : ""});
    }
    const std::vector<QString> titles = document_window_titles(subjects);
    for (size_t i = 0; i < windows.size(); ++i) {
        const QString& title = titles[i];
        windows[i].screen->setTitle(title);
        if (ui::Scene* scene = windows[i].window->windowScene()) scene->setTitle(title);
        // The desktop's mark for unsaved changes goes where "[*]" stands.
        windows[i].window->setWindowTitle(title + QStringLiteral("[*]"));
        DocumentInterfaceManager* m = windows[i].screen->manager();
        windows[i].window->setWindowModified(m && m->my_current_editor_info.has_changes);
    }
}

void EditorWebViewController::show_unsaved_changes(bool changed) {
    if (auto* window = qobject_cast<ui::Window*>(hostWindow())) {
        // The title holds the mark's place once a file titled it.
        if (!window->windowTitle().contains(QStringLiteral("[*]")))
            window->setWindowTitle(window->windowTitle() + QStringLiteral("[*]"));
        window->setWindowModified(changed);
    }
}

// ---- bar buttons ----------------------------------------------------------------------------------

void EditorWebViewController::make_bar_buttons() {
    close_bar_item = ui::BarButtonItem::withImage(tinted_symbol("multiply", XCol::accent_teal().resolved()),
                                                  ui::BarButtonItemStyle::plain, this, QStringLiteral("close_editor"));
    preview_bar_item = ui::BarButtonItem::withTitle(QStringLiteral("Preview"), ui::BarButtonItemStyle::plain, this,
                                                    QStringLiteral("preview_trigger"));
    save_bar_button = ui::BarButtonItem::withSystemItem(ui::BarButtonSystemItem::save, this, QStringLiteral("save_editor"));
    save_bar_button->setTintColor(XCol::accent_teal());
    preview_bar_item->setTintColor(XCol::accent_teal());
    toggle_preview_button =
        ui::BarButtonItem::withImage(tinted_symbol("rectangle.righthalf.inset.filled.arrow.right", XCol::accent_pink().resolved()),
                                     ui::BarButtonItemStyle::plain, this, QStringLiteral("toggle_preview_btn_pressed"));
    // Picture buttons are read by their titles (their tooltips): what pressing them does.
    close_bar_item->setTitle(QStringLiteral("Close"));
    toggle_preview_button->setTitle(QStringLiteral("Hide Preview"));
}

void EditorWebViewController::update_bar_buttons() {
    QPointer<EditorWebViewController> self(this);
    dispatch::mainQueue().async([self] {
        if (!self) return;
        if (!self->is_compact && ui::userInterfaceIdiom() != ui::Idiom::pad) {
            self->place_bar_buttons_regular();
        } else {
            self->place_bar_buttons_compact();
        }
    });
}

void EditorWebViewController::place_bar_buttons_regular() {
    navigationItem()->setLeftBarButtonItems({save_bar_button});
    std::vector<ui::BarButtonItemRef> right;
    if (encoding_bar_item) right.push_back(encoding_bar_item);
    if (ui::userInterfaceIdiom() == ui::Idiom::mac && has_preview_support) right.push_back(toggle_preview_button);
    if (!right.empty()) navigationItem()->setRightBarButtonItems(std::move(right));
}

void EditorWebViewController::place_bar_buttons_compact() {
    navigationItem()->setLeftBarButtonItems({close_bar_item, save_bar_button});
    std::vector<ui::BarButtonItemRef> right;
    if (encoding_bar_item) right.push_back(encoding_bar_item);
    right.push_back(preview_bar_item);
    navigationItem()->setRightBarButtonItems(std::move(right));
}

// ---- the document's encoding ----------------------------------------------------------------------

QString EditorWebViewController::text_format_title(const VornCurrentEditorStateInfo& info) {
    if (!info.text_format) return {};
    const auto& format = *info.text_format;
    QString title = QString::fromStdString(format.encoding);
    if (format.bom && format.encoding == "UTF-8") title += QStringLiteral(" BOM");
    title += QStringLiteral(" \u00B7 ") + QString::fromLatin1(textcodec::lineEndingName(format.lineEnding));
    if (info.text_lossy) title += QStringLiteral(" \u00B7 Read-Only");
    return title;
}

void EditorWebViewController::show_text_format() {
    DocumentInterfaceManager* m = manager();
    const QString title = m ? text_format_title(m->my_current_editor_info) : QString();
    if (title.isEmpty()) {
        encoding_bar_item.reset();
    } else {
        encoding_bar_item = ui::BarButtonItem::withTitle(title, ui::BarButtonItemStyle::plain, this,
                                                         QStringLiteral("show_encoding_menu"));
        encoding_bar_item->setTintColor(XCol::accent_teal());
    }
    update_bar_buttons();
}

std::unique_ptr<QMenu> EditorWebViewController::build_encoding_menu() {
    auto menu = std::make_unique<QMenu>();
    DocumentInterfaceManager* m = manager();
    const std::string current = m && m->my_current_editor_info.text_format ? m->my_current_editor_info.text_format->encoding
                                                                            : std::string();
    QPointer<EditorWebViewController> self(this);
    for (const bool reopen : {true, false}) {
        QMenu* list = menu->addMenu(QString::fromLatin1(reopen ? kReopenWithEncoding : kSaveWithEncoding));
        for (const auto& [name, shown] : textcodec::offeredEncodings()) {
            QAction* action = list->addAction(QString::fromStdString(shown));
            action->setCheckable(true);
            action->setChecked(name == current);
            connect(action, &QAction::triggered, this, [self, reopen, name = name] {
                DocumentInterfaceManager* manager = self ? self->manager() : nullptr;
                if (!manager) return;
                if (reopen) {
                    manager->reopen_with_encoding(name);
                } else {
                    manager->save_with_encoding(name, [self](bool written) {
                        if (written && self) self->show_save_feedback();
                    });
                }
            });
        }
    }
    return menu;
}

void EditorWebViewController::show_encoding_menu() {
    std::unique_ptr<QMenu> built = build_encoding_menu();
    QMenu* menu = built.release();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // Below the item's button, where the bar shows it.
    QPoint at = QCursor::pos();
    if (ui::NavigationController* nav = navigationController()) {
        for (QToolButton* button : nav->navigationBar()->buttons()) {
            if (encoding_bar_item && button->text() == encoding_bar_item->title()) {
                at = button->mapToGlobal(QPoint(0, button->height()));
                break;
            }
        }
    }
    menu->popup(at);
}

void EditorWebViewController::close_editor() {
    if (DocumentInterfaceManager* m = manager()) m->main_controller->close_session_main();
}

void EditorWebViewController::save_editor() {
    DocumentInterfaceManager* m = manager();
    if (!m) return;
    // The checkmark means the server has the file: it shows only after a successful write.
    QPointer<EditorWebViewController> self(this);
    m->main_controller->request_save([self](bool written) {
        if (written && self) self->show_save_feedback();
    });
}

void EditorWebViewController::show_save_feedback() {
    const QColor tint = XCol::text_primary().resolvedFor(viewIfLoaded());
    save_bar_button = ui::BarButtonItem::withImage(tinted_symbol("checkmark", tint), ui::BarButtonItemStyle::plain, this,
                                                   QStringLiteral("save_feedback_noop"));
    save_bar_button->setTitle(QStringLiteral("Saved"));
    update_bar_buttons();
    QPointer<EditorWebViewController> self(this);
    dispatch::after(dispatch::mainQueue(), std::chrono::milliseconds(kSaveFeedbackMs), [self] {
        if (!self) return;
        self->save_bar_button =
            ui::BarButtonItem::withSystemItem(ui::BarButtonSystemItem::save, self.data(), QStringLiteral("save_editor"));
        self->save_bar_button->setTintColor(XCol::accent_teal());
        self->update_bar_buttons();
    });
}

void EditorWebViewController::preview_trigger() {
    DocumentInterfaceManager* m = manager();
    if (!m) {
        VORNPresenterUtility::present_error(this, VornError(Err(Err::no_doc_int_manager)), "OK");
        return;
    }
    m->request_preview_content();
    QPointer<EditorWebViewController> self(this);
    dispatch::mainQueue().async([self] {
        if (self) self->push_preview_screen();
    });
}

void EditorWebViewController::push_preview_screen() {
    DocumentInterfaceManager* m = manager();
    if (!m || !m->ext_webview_vc) {
        VORNPresenterUtility::present_error(this, VornError(Err(Err::no_webview)), "OK");
        return;
    }
    if (ui::NavigationController* nav = navigationController()) nav->pushViewController(m->ext_webview_vc, true);
}

void EditorWebViewController::toggle_preview_btn_pressed() { toggle_preview_column(); }

void EditorWebViewController::toggle_preview_column() {
    using Mode = ui::SplitViewController::DisplayMode;
    DocumentInterfaceManager* m = manager();
    if (!m || !m->split_view_controller) return;
    ui::SplitViewController& split = *m->split_view_controller;
    ui::Image image;
    QString name;
    if (split.displayMode() != Mode::secondaryOnly) {
        split.setPreferredDisplayMode(Mode::secondaryOnly);
        image = tinted_symbol("rectangle.lefthalf.inset.filled.arrow.left", XCol::accent_teal().resolved());
        name = QStringLiteral("Show Preview");
    } else {
        split.setPreferredDisplayMode(Mode::oneBesideSecondary);
        image = tinted_symbol("rectangle.righthalf.inset.filled.arrow.right", XCol::accent_pink().resolved());
        name = QStringLiteral("Hide Preview");
    }
    toggle_preview_button =
        ui::BarButtonItem::withImage(image, ui::BarButtonItemStyle::plain, this, QStringLiteral("toggle_preview_btn_pressed"));
    toggle_preview_button->setTitle(name);
    update_bar_buttons();
}

// ---- empty state ----------------------------------------------------------------------------------

void EditorWebViewController::show_empty_state() {
    QWidget* root = view();
    empty_view->setParent(root);
    // Painted on the screen's own background: the see-through symbols are drawn over it afresh
    // each time, not over what the window showed before.
    empty_view->setAutoFillBackground(true);
    empty_view->setBackgroundRole(QPalette::Window);
    util_fill_superview(empty_view);
    empty_view->show();

    ui::SymbolConfiguration big;
    big.pointSize = 64;
    auto add_symbol = [&](const char* name, double alpha) {
        // Aspect fit, tinted with the text colour; the see-through level is drawn by the view
        // itself (no drawing effect in a window that holds a web page).
        auto* image = new SymbolView(ui::Image::systemImage(QString::fromLatin1(name), big), XCol::text_primary(),
                                     alpha, empty_view);
        util_align_center_x_anchorWithPixel(image, 0.0);
        util_align_center_y_anchorWithPixel(image, -20.0);
        image->show();
    };
    add_symbol("doc.fill", 0.4);
    add_symbol("slash.circle", 1.0);

    empty_label = new QLabel(empty_state_text(loading_file_name_), empty_view);
    // A file's name is shown as it is, whatever characters the server allows in it.
    empty_label->setTextFormat(Qt::PlainText);
    empty_label->setWordWrap(true);
    empty_label->setAlignment(Qt::AlignCenter);
    util_align_center_x_anchorWithPixel(empty_label, 0.0);
    util_align_center_y_anchorWithPixel(empty_label, 30.0);
    empty_label->show();
}

QString EditorWebViewController::empty_state_text(const std::string& loading_file_name) {
    if (loading_file_name.empty()) return QString::fromUtf8(kEmptyStateText);
    return QStringLiteral("Loading %1\nfrom the server...").arg(QString::fromStdString(loading_file_name));
}

void EditorWebViewController::show_file_loading(const std::string& file_name) {
    loading_file_name_ = file_name;
    if (!empty_label) return;  // the empty state takes the name when it is built
    empty_label->setText(empty_state_text(file_name));
    ui::setNeedsLayout(empty_view);  // centred again at its new size
}

void EditorWebViewController::fade_in_empty_view() {
    if (empty_view) empty_view->show();
    ui::animateAlpha(empty_view, 1.0, kFadeSeconds);
    ui::animateAlpha(editorWebView(), 0.0, kFadeSeconds);
    if (empty_view) empty_view->raise();
}

void EditorWebViewController::fade_out_empty_view() {
    ui::animateAlpha(empty_view, 0.0, kFadeSeconds);
    ui::animateAlpha(editorWebView(), 1.0, kFadeSeconds);
    // Once faded out the empty state is hidden: the assistive technologies no longer read it
    // over the open document.
    QPointer<QWidget> faded(empty_view.data());
    QTimer::singleShot(static_cast<int>(kFadeSeconds * 1000), empty_view.data(), [faded] {
        if (faded && ui::alpha(faded) < 0.01) faded->hide();
    });
}
