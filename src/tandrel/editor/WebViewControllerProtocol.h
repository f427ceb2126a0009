#pragma once
// The type of the preview screen's `webViewDelegate` link (nothing sets it).
class WebViewControllerProtocol {
public:
    virtual ~WebViewControllerProtocol() = default;
};
