#include "tandrel/editor/WebViewController.h"

#include <QPalette>

#include "platform/dispatch/Dispatch.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/View.h"
#include "platform/web/WebProfile.h"
#include "tandrel/editor/DocumentInterfaceHub.h"
#include "tandrel/editor/VornPreviewJSConnector.h"
#include "tandrel/foundation/UIViewTandrel.h"
#include "tandrel/foundation/XCol.h"

WebViewController::WebViewController() : noPreviewNeededView(new VornNoPreviewNeededViewController()) {}

WebViewController::~WebViewController() {
    // The panel belongs to the view once placed; before that it is ours.
    if (noPreviewNeededView && !noPreviewNeededView->parent()) delete noPreviewNeededView.data();
    if (previewWebView_ && !previewWebView_->parent()) delete previewWebView_.data();
}

VornPreviewWKWebView* WebViewController::previewWebView() {
    if (!previewWebView_) previewWebView_ = make_preview_web_view();
    return previewWebView_;
}

VornPreviewWKWebView* WebViewController::make_preview_web_view() {
    auto* view = new VornPreviewWKWebView();
    if (isViewLoaded()) view->resize(viewIfLoaded()->size());
    view->setContextMenuPolicy(Qt::NoContextMenu);
    view->loadHtmlString(std::string());
    return view;
}

void WebViewController::clear_website_data() { web::clearWebsiteData(); }

void WebViewController::viewDidLoad() {
    VornDocViewController::viewDidLoad();
    setup_preview_view();
}

void WebViewController::setup_preview_view() {
    QWidget* root = view();
    root->setAutoFillBackground(true);
    root->setBackgroundRole(QPalette::Window);
    setTitle(QString::fromLatin1(kLiveTitle));

    apply_bar_appearance();

    clear_website_data();

    auto* web = previewWebView();
    web->page()->setBackgroundColor(Qt::white);
    web->setAccessibleName(QString::fromLatin1(kLiveTitle));
    web->setParent(root);
    auto* hub = document_hub(scene_delegatex.data());
    if (hub && hub->preview_connector()) web->preview_wv_delegatex = hub->preview_connector();
    util_align_right_anchorWithPixel(web, 0, true);
    util_align_left_anchorWithPixel(web, 0, true);
    util_align_top_anchorWithPixel(web, 0, true);
    util_align_bottom_anchorWithPixel(web, 0, true);
    web->show();

    if (noPreviewNeededView) {
        ui::setAlpha(noPreviewNeededView, 0.0);
        noPreviewNeededView->setParent(root);
        util_align_right_anchorWithPixel(noPreviewNeededView, 0, true);
        util_align_left_anchorWithPixel(noPreviewNeededView, 0, true);
        util_align_top_anchorWithPixel(noPreviewNeededView, 0, true);
        util_align_bottom_anchorWithPixel(noPreviewNeededView, 0, true);
        noPreviewNeededView->raise();
        // Shown with its first message; until then nothing of it is in sight.
        noPreviewNeededView->hide();
    }

    if (hub && hub->preview_connector()) {
        hub->preview_connector()->attach_web_view(web);
        connect(hub->preview_connector(), &VornPreviewJSConnector::previewModeChanged, this,
                &WebViewController::update_mode_items);
    }
    live_bar_item = ui::BarButtonItem::withTitle(QString::fromLatin1(VornPreviewJSConnector::kLiveTitle),
                                                 ui::BarButtonItemStyle::plain, this, QStringLiteral("show_live"));
    site_bar_item = ui::BarButtonItem::withTitle(QString::fromLatin1(VornPreviewJSConnector::kSiteTitle),
                                                 ui::BarButtonItemStyle::plain, this, QStringLiteral("show_site"));
    try_again_bar_item = ui::BarButtonItem::withTitle(QString::fromLatin1(VornPreviewJSConnector::kTryAgainTitle),
                                                      ui::BarButtonItemStyle::plain, this, QStringLiteral("try_site_again"));
    try_again_bar_item->setTintColor(XCol::accent_teal());
    update_mode_items();
}

void WebViewController::try_site_again() {
    auto* hub = document_hub(scene_delegatex.data());
    if (hub && hub->preview_connector()) hub->preview_connector()->try_site_again();
}

void WebViewController::show_live() {
    auto* hub = document_hub(scene_delegatex.data());
    if (hub && hub->preview_connector()) hub->preview_connector()->set_preview_mode(VornPreviewJSConnector::PreviewMode::live);
}

void WebViewController::show_site() {
    auto* hub = document_hub(scene_delegatex.data());
    if (hub && hub->preview_connector()) hub->preview_connector()->set_preview_mode(VornPreviewJSConnector::PreviewMode::site);
}

void WebViewController::update_mode_items() {
    if (!live_bar_item || !site_bar_item || !try_again_bar_item) return;
    auto* hub = document_hub(scene_delegatex.data());
    VornPreviewJSConnector* connector = hub ? hub->preview_connector() : nullptr;
    // The heading says what shows: the editor's text, or the page the web server serves.
    const bool site_shown = connector && connector->site_shown();
    QString title = QString::fromLatin1(site_shown ? kSiteTitle : kLiveTitle);
    if (site_shown && connector->site_status()) title += QStringLiteral(" \u2014 HTTP %1").arg(*connector->site_status());
    if (this->title() != title) setTitle(title);
    previewWebView()->setAccessibleName(title);
    if (!connector || !connector->site_mode_available()) {
        if (!navigationItem()->rightBarButtonItems().empty()) navigationItem()->setRightBarButtonItems({});
        return;
    }
    const bool site = connector->preview_mode() == VornPreviewJSConnector::PreviewMode::site;
    live_bar_item->setEnabled(site);
    site_bar_item->setEnabled(!site);
    live_bar_item->setTintColor(site ? std::nullopt : std::optional<ui::DynamicColor>(XCol::accent_teal()));
    site_bar_item->setTintColor(site ? std::optional<ui::DynamicColor>(XCol::accent_teal()) : std::nullopt);
    std::vector<ui::BarButtonItemRef> items{site_bar_item, live_bar_item};
    if (site_shown && connector->site_failure()) items.insert(items.begin(), try_again_bar_item);
    if (navigationItem()->rightBarButtonItems() != items) navigationItem()->setRightBarButtonItems(items);
}

void WebViewController::viewWillAppear(bool animated) {
    VornDocViewController::viewWillAppear(animated);
    apply_bar_appearance();
}

void WebViewController::apply_bar_appearance() {
    ui::NavigationBarAppearance appearance;
    appearance.backgroundColor = XCol::bar_background();
    appearance.titleColor = XCol::preview_title();
    if (auto* navigation = navigationController()) navigation->navigationBar()->setAppearance(appearance);
}

void WebViewController::show_no_preview(const QString& text) {
    QPointer<WebViewController> self(this);
    dispatch::mainQueue().async([self, text] {
        if (self) self->present_no_preview_panel(text);
    });
}

void WebViewController::show_preview() {
    QPointer<WebViewController> self(this);
    dispatch::mainQueue().async([self] {
        if (self) self->present_preview_view();
    });
}

void WebViewController::present_no_preview_panel(const QString& text) {
    loadViewIfNeeded();
    if (!noPreviewNeededView) return;
    noPreviewNeededView->raise();
    noPreviewNeededView->set_unsupported_extension_text(text);
    noPreviewNeededView->show();
    ui::setAlpha(noPreviewNeededView, 1.0);
    ui::setAlpha(previewWebView(), 0.0);
}

void WebViewController::present_preview_view() {
    loadViewIfNeeded();
    auto* web = previewWebView();
    web->raise();
    if (noPreviewNeededView) {
        ui::setAlpha(noPreviewNeededView, 0.0);
        // Out of sight for the assistive technologies as well.
        noPreviewNeededView->hide();
    }
    ui::setAlpha(web, 1.0);
}
