#include "tandrel/editor/VornPreviewWKWebView.h"

VornPreviewWKWebView::VornPreviewWKWebView(QWidget* parent) : web::WebView(parent) { setNetworkAllowedForHtml(true); }

VornPreviewWKWebView::~VornPreviewWKWebView() = default;
