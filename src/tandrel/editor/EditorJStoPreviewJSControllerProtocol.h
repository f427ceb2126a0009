#pragma once
// The editor connector's link to the preview (`editorwk_to_previewwk_delegate`): where preview
// content goes. Adopted by VornPreviewJSConnector.
#include <memory>

class VornPreviewContentBucket;

class EditorJStoPreviewJSControllerProtocol {
public:
    virtual ~EditorJStoPreviewJSControllerProtocol() = default;
    virtual void push_preview_content(std::shared_ptr<VornPreviewContentBucket> bucket) = 0;
};
