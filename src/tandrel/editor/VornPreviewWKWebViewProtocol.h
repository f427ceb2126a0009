#pragma once
// The preview web view's link to the preview connector (`preview_wv_delegatex`).
class VornPreviewWKWebViewProtocol {
public:
    virtual ~VornPreviewWKWebViewProtocol() = default;
};
