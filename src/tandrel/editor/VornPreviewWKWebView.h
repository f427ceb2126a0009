#pragma once
// The live preview's web view: HTML from memory, never file access and no bridge to the app. The
// page may load its http and https resources (style sheets, images, scripts of the site), as the
// site itself would in a browser: without file access or a bridge that gives it nothing of ours.
#include "platform/web/WebView.h"
#include "tandrel/editor/ProtocolLink.h"
#include "tandrel/editor/VornPreviewWKWebViewProtocol.h"

class VornPreviewWKWebView : public web::WebView {
    Q_OBJECT
public:
    explicit VornPreviewWKWebView(QWidget* parent = nullptr);
    ~VornPreviewWKWebView() override;

    // The preview connector; empty until the preview screen sets it.
    ProtocolLink<VornPreviewWKWebViewProtocol> preview_wv_delegatex;
};
