#pragma once
// The preview page's connector: takes content from the editor, shows the preview or the
// no-preview panel, and loads HTML into the preview web view. All links are weak. Main thread.
#include <QObject>
#include <QPointer>
#include <memory>
#include <string>

#include "tandrel/editor/EditorJStoPreviewJSControllerProtocol.h"
#include "tandrel/editor/VornPreviewWKWebViewProtocol.h"
#include "tandrel/foundation/SceneDelegateProtocol.h"
#include "tandrel/foundation/VornErrorProtocol.h"
#include "tandrel/foundation/VornFileViewerSceneDelegateProtocol.h"

class VornPreviewContentBucket;
namespace web {
class WebView;
struct ScriptMessage;
}

class VornPreviewJSConnector : public QObject,
                               public EditorJStoPreviewJSControllerProtocol,
                               public VornPreviewWKWebViewProtocol {
    Q_OBJECT
public:
    explicit VornPreviewJSConnector(QObject* parent = nullptr);
    ~VornPreviewJSConnector() override;

    bool first_preview_loaded = false;
    QPointer<SceneDelegateProtocol> scene_delegatex;
    QPointer<VornFileViewerSceneDelegateProtocol> file_delegatex;
    QPointer<web::WebView> web_view;
    VornErrorLink error_delegatex;

    // Keeps the view and registers the four message handlers ("scriptlog", "log", "msg", "err").
    void attach_web_view(web::WebView* view);
    // HTML ("text/html") shows the preview and loads the content; any other type shows the
    // no-preview panel and empties the page. No content or no type: `no_data`.
    void push_preview_content(std::shared_ptr<VornPreviewContentBucket> bucket) override;
    // On the main queue: loads the HTML (from memory, no base URL). No web view: `no_webview`.
    void load_preview_html(const std::string& html);
    void handle_script_message(const web::ScriptMessage& message);
};
