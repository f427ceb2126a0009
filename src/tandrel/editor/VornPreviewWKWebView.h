#pragma once
// The live preview's web view: a page at its site address (its files come through the server's
// connection, VornPreviewSite) or HTML from memory; never file access, never another site's files,
// and no bridge to the app (no web channel, no message handlers reach it). The page may load its
// http and https resources, as the site itself would in a browser.
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
