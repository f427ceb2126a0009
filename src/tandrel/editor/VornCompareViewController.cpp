#include "tandrel/editor/VornCompareViewController.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include <utility>

#include "platform/web/WebView.h"
#include "tandrel/editor/EditorScripts.h"
#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/foundation/VornAppUrlUtility.h"

VornCompareViewController::VornCompareViewController(std::string file_name, std::string server_text,
                                                     std::string editor_text, std::string result_text,
                                                     std::string ace_mode, Finished finished)
    : file_name_(std::move(file_name)),
      server_text_(std::move(server_text)),
      editor_text_(std::move(editor_text)),
      result_text_(std::move(result_text)),
      ace_mode_(ace_mode.empty() ? std::string("text") : std::move(ace_mode)),
      finished_(std::move(finished)) {
    setTitle(QStringLiteral("%1 \u2014 %2").arg(QString::fromLatin1(kTitle), QString::fromStdString(file_name_)));
    setPreferredContentSize(QSize(980, 620));
}

VornCompareViewController::~VornCompareViewController() { finish(std::nullopt); }

web::WebView* VornCompareViewController::page() const { return page_.data(); }

void VornCompareViewController::loadView() {
    auto* root = new QWidget;
    auto* layout = new QVBoxLayout(root);
    page_ = new web::WebView(root, web::Bridge::none);
    page_->setAccessibleName(QStringLiteral("The server's copy and the result"));
    layout->addWidget(page_, 1);
    note_ = new QLabel(root);
    note_->setWordWrap(true);
    note_->setText(QStringLiteral("Left: \u201C%1\u201D on the server now. Right: what Save writes, "
                                  "starting as the merge of both changes. An arrow takes the server's side of a "
                                  "difference, \u201CKeep Mine\u201D the editor's; a conflict (red) is decided with "
                                  "its buttons. Blue: lines not as in the editor, such as the server's changes the "
                                  "merge took in.")
                       .arg(QString::fromStdString(file_name_)));
    layout->addWidget(note_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* cancel_button = new QPushButton(QStringLiteral("Cancel"), root);
    save_button_ = new QPushButton(QString::fromLatin1(kSave), root);
    save_button_->setDefault(true);
    save_button_->setEnabled(false);
    buttons->addWidget(cancel_button);
    buttons->addWidget(save_button_);
    layout->addLayout(buttons);
    setView(root);

    QPointer<VornCompareViewController> self(this);
    connect(cancel_button, &QPushButton::clicked, this, [self] {
        if (self) self->cancel();
    });
    connect(save_button_, &QPushButton::clicked, this, [self] {
        if (self) self->save();
    });
    connect(page_, &QWebEngineView::loadFinished, this, [self](bool ok) {
        if (!self || !self->page_) return;
        if (!ok) {
            self->note_->setText(QStringLiteral("The comparison could not be shown."));
            return;
        }
        const std::string script = "compare.load('" + editor_script::base64(self->server_text_) + "', '" +
                                   editor_script::base64(self->result_text_) + "', '" +
                                   editor_script::base64(self->editor_text_) + "', '" + self->ace_mode_ + "')";
        self->page_->evaluateJavaScript(script, [self](nlohmann::json result, std::optional<web::ScriptError> error) {
            if (!self) return;
            if (error || result != true) {
                AMZLogger::shared().log_error("the comparison page did not show the texts: " +
                                              (error ? error->message : result.dump()));
                self->note_->setText(QStringLiteral("The comparison could not be shown."));
                return;
            }
            self->page_ready_ = true;
            self->save_button_->setEnabled(true);
        });
    });
    const auto folder = VornAppUrlUtility::ace_folder_url();
    if (!folder || !page_->loadFileUrl(*folder / "compare.html", *folder)) {
        note_->setText(QStringLiteral("The comparison page is missing."));
    }
}

void VornCompareViewController::save() {
    if (!page_ || !page_ready_) return;
    QPointer<VornCompareViewController> self(this);
    page_->evaluateJavaScript("({conflicts: compare.conflicts(), text: compare.result()})",
                              [self](nlohmann::json reply, std::optional<web::ScriptError> error) {
                                  if (!self) return;
                                  if (error || !reply.is_object() || !reply["text"].is_string()) {
                                      self->note_->setText(QStringLiteral("The result could not be read."));
                                      return;
                                  }
                                  if (reply.value("conflicts", 0) > 0) {
                                      self->note_->setText(QString::fromLatin1(kUndecided));
                                      return;
                                  }
                                  // Told first: the dismissal may release the sheet.
                                  auto keep = self->sharedFromThis();
                                  self->finish(reply["text"].get<std::string>());
                                  self->dismissViewControllerAnimated(true);
                              });
}

void VornCompareViewController::cancel() {
    auto keep = sharedFromThis();
    finish(std::nullopt);
    dismissViewControllerAnimated(true);
}

void VornCompareViewController::presentationCloseRequested() { cancel(); }

void VornCompareViewController::released() { finish(std::nullopt); }

void VornCompareViewController::finish(std::optional<std::string> result) {
    auto finished = std::exchange(finished_, nullptr);
    if (finished) finished(std::move(result));
}
