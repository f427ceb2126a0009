#pragma once
// The live preview screen: the preview web view with the no-preview panel over it; they swap by
// alpha. Its web view is attached to the window's preview connector when the view loads.
#include <QPointer>
#include <QString>

#include "platform/ui/NavigationController.h"
#include "tandrel/editor/ProtocolLink.h"
#include "tandrel/editor/VornNoPreviewNeededViewController.h"
#include "tandrel/editor/VornPreviewWKWebView.h"
#include "tandrel/editor/WebViewControllerProtocol.h"
#include "tandrel/foundation/VornDocViewController.h"

class WebViewController : public VornDocViewController {
    Q_OBJECT
public:
    WebViewController();
    ~WebViewController() override;

    ProtocolLink<WebViewControllerProtocol> webViewDelegate;
    // Made with the screen, placed when the view loads.
    QPointer<VornNoPreviewNeededViewController> noPreviewNeededView;
    // Made on first use.
    VornPreviewWKWebView* previewWebView();

    // Queued on the main queue: the panel with the type's text, or the web view.
    void show_no_preview(const QString& text);
    void show_preview();
    void present_no_preview_panel(const QString& text);
    void present_preview_view();

    // "Live" and "Site" in the bar, for a document whose server has a Site URL: the one shown is
    // marked (tinted, and not pressable); the other switches to it (VornPreviewJSConnector).
    // While "Site" says the site did not answer, "Try Again" stands before them. The heading (and
    // the web view's name) says what shows: "Live Preview", or "Site Preview" in "Site" (with the
    // HTTP status of an error page the web server answered with).
    ui::BarButtonItemRef live_bar_item;
    ui::BarButtonItemRef site_bar_item;
    ui::BarButtonItemRef try_again_bar_item;
    Q_INVOKABLE void show_live();
    Q_INVOKABLE void show_site();
    Q_INVOKABLE void try_site_again();
    void update_mode_items();
    static constexpr const char* kLiveTitle = "Live Preview";
    static constexpr const char* kSiteTitle = "Site Preview";

    static void clear_website_data();
    bool canBecomeFirstResponder() const { return true; }

protected:
    void viewDidLoad() override;
    // Pushed onto another screen's navigation controller later, the bar takes the preview's look.
    void viewWillAppear(bool animated) override;

private:
    void apply_bar_appearance();
    void setup_preview_view();
    VornPreviewWKWebView* make_preview_web_view();
    QPointer<VornPreviewWKWebView> previewWebView_;
};
