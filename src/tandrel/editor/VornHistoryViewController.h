#pragma once
// "History" of a document: the copies of its file that the server's history kept (the copies
// saves replaced, VornFileHistory), newest first, each listed by the date it was kept and its
// size. The copy selected is shown against the editor's text as a diff (lines the copy has that
// the editor's text has not marked "-", the editor's own marked "+"). "Restore" hands the copy's
// text to `restore` (the document puts it into the editor as one edit, which saves like any
// other) and closes the sheet; "Done" closes it.
//
// The copies are read as text in the document's format; a copy that does not read in it (its
// bytes do not all read as that encoding) is shown as such and cannot be restored. Main thread
// only, but for read_copies, which reads the copies before the sheet is made, off that thread.
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <functional>
#include <string>
#include <vector>

#include "platform/text/TextEncoding.h"
#include "platform/ui/ViewController.h"
#include "tandrel/foundation/VornFileHistory.h"

class VornHistoryViewController : public ui::ViewController {
    Q_OBJECT
public:
    using Restore = std::function<void(std::string text)>;
    // A kept copy and its text (none: the copy does not read in the document's format).
    struct Copy {
        VornFileHistory::Version version;
        std::optional<std::string> text;
    };
    // The copies read from the disk and decoded: off the main thread (the history's queue), as
    // they are up to the history's whole allowance.
    static std::vector<Copy> read_copies(std::vector<VornFileHistory::Version> versions, const std::string& file_name,
                                         const textcodec::TextFormat& format);
    VornHistoryViewController(std::string file_name, std::vector<Copy> copies, std::string editor_text, Restore restore);

    static constexpr const char* kTitle = "History";
    static constexpr const char* kRestore = "Restore";
    static constexpr const char* kNoVersions = "No earlier copies of this file are kept.";

    // A row's text: VornFileHistory::describe ("11 Dec 2026 08:12:03 · 1.2 kB").
    static QString row_text(const VornFileHistory::Version& version);

    // The sheet's parts, for its owner and the tests.
    QListWidget* list() const { return list_; }
    QPlainTextEdit* diff_view() const { return diff_; }
    QPushButton* restore_button() const { return restore_button_; }
    // Selects a row and shows its copy; false for a row that is not there.
    bool select(int row);
    // "Restore" on the selected row.
    void restore_selected();

protected:
    void loadView() override;

private:
    void show_selected();

    std::string file_name_;
    std::vector<Copy> shown_;
    std::string editor_text_;
    Restore restore_;
    QPointer<QListWidget> list_;
    QPointer<QPlainTextEdit> diff_;
    QPointer<QLabel> note_;
    QPointer<QPushButton> restore_button_;
};
