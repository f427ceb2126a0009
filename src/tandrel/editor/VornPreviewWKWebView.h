#pragma once
// The live preview's web view: HTML from memory, never file access.
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
