#include "tandrel/scenes/VornDocumentManager.h"

#include "platform/dispatch/Dispatch.h"

namespace {
VornDocumentManager::MainWindowNotifier& notifier() {
    static VornDocumentManager::MainWindowNotifier n;
    return n;
}
}  // namespace

VornDocumentManager& VornDocumentManager::shared() {
    static VornDocumentManager* manager = new VornDocumentManager;  // lives for the process
    return *manager;
}

void VornDocumentManager::set_main_window_notifier(MainWindowNotifier n) { notifier() = std::move(n); }

void VornDocumentManager::observe_main_window_changes() {
    if (!notifier() || observing_) return;
    observing_ = true;
    // The manager lives for the process, and the handler only schedules, so any thread may call it.
    notifier()([this] { changed_current_doc_noty(); });
}

void VornDocumentManager::changed_current_doc_noty() { update_current_document(); }

void VornDocumentManager::update_current_document() {
    dispatch::mainQueue().async([this] { find_current_scene_delegate(); });
}

void VornDocumentManager::find_current_scene_delegate() {}
