#pragma once
// Follows which document window is the desktop's main window. The desktop window system is
// reached by name at run time through the dynamic wrapper: on each "window became main"
// notification the windows are searched for the key desktop window, and when that is a document
// window its scene delegate is recorded (weakly). Where nothing answers to the desktop names
// there is no notification to follow and the manager stays idle.
#include <QObject>
#include <QPointer>

class DocumentSceneDelegate;

class VornDocumentManager : public QObject {
    Q_OBJECT
public:
    static VornDocumentManager& shared();

    // The scene delegate of the document window last seen as the key desktop window (weak:
    // empties itself when that window goes).
    QPointer<DocumentSceneDelegate> current_scene_delegate;

    // Starts listening for the desktop's main-window notification on the default notification
    // centre. Without the desktop window system there is no name to listen for, and nothing is
    // registered (listening to every notification instead would run a pass for each of them).
    void observe_main_window_changes();
    bool is_observing() const { return observing_; }

    // The notification handler (any thread): schedules a pass on the main queue.
    void changed_current_doc_noty();
    void update_current_document();
    // The pass (main queue): finds the key desktop window among the app's windows and records its
    // delegate when it is a document window; other windows leave the record as it is.
    void find_current_scene_delegate();

private:
    VornDocumentManager() = default;
    bool observing_ = false;
};
