#include "tandrel/editor/VornPreviewWKWebView.h"

VornPreviewWKWebView::VornPreviewWKWebView(QWidget* parent) : web::WebView(parent, web::Bridge::none) {
    setNetworkAllowedForHtml(true);
}

VornPreviewWKWebView::~VornPreviewWKWebView() = default;
