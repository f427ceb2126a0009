#include "tandrel/scenes/VornDocumentManager.h"

#include "dynamic/Dynamic.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/ui/NotificationCenter.h"
#include "platform/ui/scenes/Application.h"
#include "tandrel/scenes/DocumentScene.h"

using dynamic::Dynamic;

VornDocumentManager& VornDocumentManager::shared() {
    static VornDocumentManager* manager = new VornDocumentManager;  // lives for the process
    return *manager;
}

void VornDocumentManager::observe_main_window_changes() {
    if (observing_) return;
    const std::optional<QString> name =
        Dynamic::className(QStringLiteral("NSWindow")).member<QString>(QStringLiteral("didBecomeMainNotification"));
    if (!name || name->isEmpty()) return;
    observing_ = true;
    // The manager lives for the process, and the handler only schedules, so any thread may post.
    ui::NotificationCenter::defaultCenter().addObserver(this, *name, nullptr,
                                                        [this](const ui::Notification&) { changed_current_doc_noty(); });
}

void VornDocumentManager::changed_current_doc_noty() { update_current_document(); }

void VornDocumentManager::update_current_document() {
    dispatch::mainQueue().async([this] { find_current_scene_delegate(); });
}

void VornDocumentManager::find_current_scene_delegate() {
    const QList<ui::Window*> windows = ui::Application::shared().windows();
    if (windows.isEmpty()) return;
    ui::Window* key = nullptr;
    for (ui::Window* window : windows) {
        const std::optional<bool> isKey = Dynamic::className(QStringLiteral("NSApplication"))
            [QStringLiteral("sharedApplication")][QStringLiteral("delegate")][QStringLiteral("hostWindowForUIWindow")](
                {{QString(), QVariant::fromValue<QObject*>(window)}})[QStringLiteral("attachedWindow")]
                .member<bool>(QStringLiteral("isKeyWindow"));
        if (isKey.value_or(false)) {
            key = window;
            break;
        }
    }
    if (!key || !qobject_cast<DocumentWindow*>(key)) return;
    auto* scene = qobject_cast<DocumentScene*>(key->windowScene());
    auto* delegate = scene ? qobject_cast<DocumentSceneDelegate*>(scene->delegate()) : nullptr;
    if (!delegate || current_scene_delegate == delegate) return;
    current_scene_delegate = delegate;
}
