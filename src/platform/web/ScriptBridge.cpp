#include "platform/web/ScriptBridge.h"

#include "platform/web/WebView.h"

namespace web {

ScriptBridge::ScriptBridge(WebView* view, QObject* parent) : QObject(parent), view_(view) {}

void ScriptBridge::post(const QString& name, const QString& body, const QVariantList& large, const QString& marker) {
    if (!view_) return;
    try {
        view_->deliverMessage(name, body, large, marker);
    } catch (...) {
        // Nothing may leave a slot; a message that cannot be delivered is dropped.
    }
}

}  // namespace web
