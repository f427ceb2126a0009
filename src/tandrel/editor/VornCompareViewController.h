#pragma once
// "Compare": the server's copy of a file beside the result a save would write, in the editor
// folder's comparison page (resources/editor/compare.html: ace-diff on the app's Ace), for a save
// that met another change on the server. The lines and the words within them that differ are
// marked; each difference can be copied from the server's side into the result with its arrow,
// or left as the result has it, and the result can be edited. The result starts as the three-way
// merge of the base, the editor's text and the server's; where the two changes overlapped it
// holds both between git's conflict markers, which must be decided before "Save" takes it: each
// conflict's "Keep Mine", "Keep Server's" or "Keep Both" puts the editor's lines, the server's or
// both in place of the whole block, or the lines are edited and the markers removed by hand;
// until then Save says so and takes nothing. The server's changes the merge took in without a
// conflict (where the result differs from the editor's text outside the conflicts) are marked
// too, each with a "Keep Mine" that puts the editor's lines back, so every difference can be
// taken from either side. Each button's change is one edit in the result, which Undo takes back.
//
// `finished` runs exactly once, on the main thread: with the result for "Save", with nothing for
// "Cancel", a closed sheet, or a page that could not be shown. Main thread only.
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <functional>
#include <optional>
#include <string>

#include "platform/ui/ViewController.h"

namespace web {
class WebView;
}

class VornCompareViewController : public ui::ViewController {
    Q_OBJECT
public:
    using Finished = std::function<void(std::optional<std::string> result)>;
    // `editor_text`: the editor's own text, which the server's merged changes are found against.
    VornCompareViewController(std::string file_name, std::string server_text, std::string editor_text,
                              std::string result_text, std::string ace_mode, Finished finished);
    ~VornCompareViewController() override;

    static constexpr const char* kTitle = "Compare";
    static constexpr const char* kSave = "Save";
    static constexpr const char* kUndecided =
        "Decide each conflict first: keep one side (or edit the lines) and remove the markers "
        "<<<<<<<, ======= and >>>>>>>.";

    // The page, once it shows the texts; the note under it; the Save button.
    web::WebView* page() const;
    bool page_ready() const { return page_ready_; }
    QLabel* note() const { return note_; }
    QPushButton* save_button() const { return save_button_; }
    // "Save" and "Cancel", as the buttons do.
    void save();
    void cancel();
    // A sheet released without an answer is a Cancel.
    void released() override;

protected:
    void loadView() override;
    void presentationCloseRequested() override;

private:
    void finish(std::optional<std::string> result);

    std::string file_name_;
    std::string server_text_;
    std::string editor_text_;
    std::string result_text_;
    std::string ace_mode_;
    Finished finished_;
    bool page_ready_ = false;
    QPointer<web::WebView> page_;
    QPointer<QLabel> note_;
    QPointer<QPushButton> save_button_;
};
