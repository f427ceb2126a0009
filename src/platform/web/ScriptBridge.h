#pragma once
// The object a page's web channel exposes: the page's message shim calls post() for every
// window.webkit.messageHandlers.NAME.postMessage(body), with the body as JSON text, the body's
// strings of 64 KiB or more beside it, and the marker that stands in their place in the text.
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantList>

namespace web {

class WebView;

class ScriptBridge final : public QObject {
    Q_OBJECT
public:
    ScriptBridge(WebView* view, QObject* parent);

public slots:
    void post(const QString& name, const QString& body, const QVariantList& large, const QString& marker);

private:
    QPointer<WebView> view_;
};

}  // namespace web
