#include "tandrel/editor/VornPreviewWKWebView.h"

VornPreviewWKWebView::VornPreviewWKWebView(QWidget* parent) : web::WebView(parent) {}

VornPreviewWKWebView::~VornPreviewWKWebView() = default;
