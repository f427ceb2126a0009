#pragma once
// "Deleted Files" of a folder of the server window: the files of the folder that the server's
// history (VornFileHistory) keeps copies of but that the folder's listing, read from the server as
// the sheet opens, does not hold (deleted through the window, or gone some other way after a save
// kept a copy). Selecting a file lists its kept copies, newest first, each by the date it was
// kept and its size; the selected copy is shown as text, read-only, or said not to be text.
// "Restore" writes the selected copy's bytes back to the file's path through the window's write
// road as a new file (files::WriteMode::createNew): a name somebody took meanwhile is refused and
// the server's error shown in an alert over the sheet, and whatever the answer the window lists
// its folder again. The sheet's list stays as it was read; "Done" closes the sheet, and opening it
// again reads everything anew.
//
// Nothing here waits: the history and the copies are read on the history's queue, the folder is
// listed by the window's connection, and each answer hops to the main queue, where it is dropped
// when the sheet is gone or, for a copy, when another copy was selected meanwhile. A window
// without a connection, or a folder the server does not list, shows its error in an alert and
// lists nothing. Main thread only.
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/ViewController.h"
#include "tandrel/foundation/VornError.h"
#include "tandrel/foundation/VornFileHistory.h"

class FileViewerSceneDelegate;

class VornDeletedFilesViewController : public ui::ViewController {
    Q_OBJECT
public:
    // The files of `folder` (a path of the window's server) with copies in `history`.
    VornDeletedFilesViewController(QPointer<FileViewerSceneDelegate> window, std::string folder,
                                   VornFileHistory& history = VornFileHistory::shared());

    static constexpr const char* kTitle = "Deleted Files";
    static constexpr const char* kRestore = "Restore";
    static constexpr const char* kNoFiles = "No deleted files of this folder are kept.";

    const std::string& folder() const { return folder_; }
    // The sheet's parts, for its owner and the tests.
    QLabel* note() const { return note_; }
    QListWidget* files_list() const { return files_; }
    QListWidget* copies_list() const { return copies_; }
    QPlainTextEdit* copy_view() const { return copy_view_; }
    QPushButton* restore_button() const { return restore_button_; }
    QPushButton* done_button() const { return done_button_; }
    // The list is filled (or known to be empty, or failed); the selected copy's bytes are read;
    // how many restores have ended (their answer shown).
    bool is_listed() const { return listed_; }
    bool is_copy_shown() const { return shown_bytes_ != nullptr; }
    int restores_finished() const { return restores_finished_; }
    // The paths of the files listed, in the list's order.
    std::vector<std::string> listed_paths() const;

    // "Restore" on the selected copy: nothing while its bytes are not read yet or a restore runs.
    void restore_selected();

protected:
    void loadView() override;
    void viewDidLoad() override;

private:
    void history_read(std::vector<VornFileHistory::KeptFile> files);
    void folder_listed(std::optional<std::vector<std::string>> paths, std::optional<VornError> error);
    void show_files_when_ready();
    void show_copies();
    void show_selected_copy();
    void copy_read(uint64_t request, std::shared_ptr<const std::string> bytes, std::optional<std::string> text);
    void restore_finished(const std::string& path, const std::optional<VornError>& error);
    void update_restore_button();
    const VornFileHistory::KeptFile* selected_file() const;
    const VornFileHistory::Version* selected_copy() const;

    QPointer<FileViewerSceneDelegate> window_;
    std::string service_id_;
    std::string folder_;
    VornFileHistory& history_;
    // The two answers the list is made of: the history's files of the folder, and the paths the
    // folder's listing holds (normalized).
    std::optional<std::vector<VornFileHistory::KeptFile>> kept_;
    std::optional<std::vector<std::string>> on_server_;
    bool listed_ = false;
    std::vector<VornFileHistory::KeptFile> files_shown_;
    // The copy shown: the latest read asked for, and the bytes it gave (none while it is read).
    uint64_t copy_request_ = 0;
    std::shared_ptr<const std::string> shown_bytes_;
    bool restoring_ = false;
    int restores_finished_ = 0;

    QPointer<QLabel> note_;
    QPointer<QListWidget> files_;
    QPointer<QListWidget> copies_;
    QPointer<QPlainTextEdit> copy_view_;
    QPointer<QPushButton> restore_button_;
    QPointer<QPushButton> done_button_;
};
