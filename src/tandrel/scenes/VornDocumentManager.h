#pragma once
// Follows which document window is the desktop's main window. The desktop window system is
// reached by name at run time; where nothing answers to its names, there is nothing to follow
// and the manager stays idle.
#include <QObject>
#include <QPointer>
#include <functional>

#include "platform/ui/scenes/Scene.h"

class VornDocumentManager : public QObject {
    Q_OBJECT
public:
    static VornDocumentManager& shared();

    // The scene delegate of the document window last seen as the main window (weak).
    QPointer<ui::SceneDelegate> current_scene_delegate;

    // Starts listening for the desktop's main-window changes. Does nothing when the desktop
    // window system offers no such notification.
    void observe_main_window_changes();
    bool is_observing() const { return observing_; }

    // The desktop bridge hands in how to subscribe to the main-window notification: it calls
    // the given handler on each change. Without one, observing does nothing.
    using MainWindowNotifier = std::function<void(std::function<void()> handler)>;
    static void set_main_window_notifier(MainWindowNotifier notifier);

    // The notification handler: schedules the search for the current document on the main queue.
    void changed_current_doc_noty();
    void update_current_document();
    // Reserved for the desktop bridge's key-window search; nothing to search without it.
    void find_current_scene_delegate();

private:
    VornDocumentManager() = default;
    bool observing_ = false;
};
