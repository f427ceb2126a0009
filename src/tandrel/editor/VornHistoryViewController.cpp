#include "tandrel/editor/VornHistoryViewController.h"


#include "platform/text/TextDiff.h"
#include "tandrel/foundation/KeptCopiesSheet.h"

std::vector<VornHistoryViewController::Copy> VornHistoryViewController::read_copies(
    std::vector<VornFileHistory::Version> versions, const std::string& file_name, const textcodec::TextFormat& format) {
    std::vector<Copy> copies;
    for (auto& version : versions) {
        Copy copy{std::move(version), std::nullopt};
        if (auto bytes = VornFileHistory::read(copy.version)) {
            auto read = textcodec::decodeText(*bytes, file_name, format.encoding);
            if (read.lossless) copy.text = std::move(read.utf8);
        }
        copies.push_back(std::move(copy));
    }
    return copies;
}

VornHistoryViewController::VornHistoryViewController(std::string file_name, std::vector<Copy> copies,
                                                     std::string editor_text, Restore restore)
    : file_name_(std::move(file_name)), shown_(std::move(copies)), editor_text_(std::move(editor_text)),
      restore_(std::move(restore)) {
    setTitle(QStringLiteral("%1 \u2014 %2").arg(QString::fromLatin1(kTitle), QString::fromStdString(file_name_)));
    setPreferredContentSize(QSize(760, 520));
}

QString VornHistoryViewController::row_text(const VornFileHistory::Version& version) {
    return QString::fromStdString(VornFileHistory::describe(version));
}

void VornHistoryViewController::loadView() {
    auto sheet = KeptCopiesSheet::make({{QStringLiteral("Kept copies"), 240}}, QStringLiteral("Differences from the editor"),
                                       QString::fromLatin1(kRestore));
    note_ = sheet.note;
    list_ = sheet.lists[0];
    for (const auto& shown : shown_) list_->addItem(row_text(shown.version));
    diff_ = sheet.text;
    restore_button_ = sheet.restore;
    QPushButton* done = sheet.done;
    setView(sheet.root);

    QPointer<VornHistoryViewController> self(this);
    connect(list_, &QListWidget::currentRowChanged, this, [self](int) {
        if (self) self->show_selected();
    });
    connect(done, &QPushButton::clicked, this, [self] {
        if (self) self->dismissViewControllerAnimated(true);
    });
    connect(restore_button_, &QPushButton::clicked, this, [self] {
        if (self) self->restore_selected();
    });
    if (shown_.empty()) {
        note_->setText(QString::fromLatin1(kNoVersions));
        restore_button_->setEnabled(false);
        return;
    }
    note_->setText(QStringLiteral("Copies of \u201C%1\u201D that saves replaced on the server, newest first. "
                                  "Lines marked \u2212 are the copy's, lines marked + the editor's.")
                       .arg(QString::fromStdString(file_name_)));
    list_->setCurrentRow(0);
}

bool VornHistoryViewController::select(int row) {
    loadViewIfNeeded();
    if (row < 0 || row >= static_cast<int>(shown_.size())) return false;
    list_->setCurrentRow(row);
    show_selected();
    return true;
}

void VornHistoryViewController::show_selected() {
    if (!list_ || !diff_) return;
    const int row = list_->currentRow();
    if (row < 0 || row >= static_cast<int>(shown_.size())) {
        diff_->clear();
        restore_button_->setEnabled(false);
        return;
    }
    const auto& shown = shown_[static_cast<std::size_t>(row)];
    restore_button_->setEnabled(shown.text.has_value());
    if (!shown.text) {
        diff_->setPlainText(QStringLiteral("This copy does not read in the file's encoding."));
        return;
    }
    const std::string diff = textmerge::unifiedDiff(*shown.text, editor_text_);
    diff_->setPlainText(diff.empty() ? QStringLiteral("This copy is the editor's text.") : QString::fromStdString(diff));
}

void VornHistoryViewController::restore_selected() {
    if (!list_) return;
    const int row = list_->currentRow();
    if (row < 0 || row >= static_cast<int>(shown_.size()) || !shown_[static_cast<std::size_t>(row)].text) return;
    auto restore = restore_;
    std::string text = *shown_[static_cast<std::size_t>(row)].text;
    dismissViewControllerAnimated(true);
    if (restore) restore(std::move(text));
}
