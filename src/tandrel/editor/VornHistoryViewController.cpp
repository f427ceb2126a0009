#include "tandrel/editor/VornHistoryViewController.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "platform/text/TextDiff.h"

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
    auto* root = new QWidget;
    auto* layout = new QVBoxLayout(root);
    note_ = new QLabel(root);
    note_->setWordWrap(true);
    layout->addWidget(note_);
    auto* panes = new QHBoxLayout;
    list_ = new QListWidget(root);
    list_->setAccessibleName(QStringLiteral("Kept copies"));
    list_->setMaximumWidth(240);
    for (const auto& shown : shown_) list_->addItem(row_text(shown.version));
    panes->addWidget(list_);
    diff_ = new QPlainTextEdit(root);
    diff_->setReadOnly(true);
    diff_->setLineWrapMode(QPlainTextEdit::NoWrap);
    diff_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    diff_->setAccessibleName(QStringLiteral("Differences from the editor"));
    panes->addWidget(diff_, 1);
    layout->addLayout(panes, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* done = new QPushButton(QStringLiteral("Done"), root);
    restore_button_ = new QPushButton(QString::fromLatin1(kRestore), root);
    restore_button_->setDefault(true);
    buttons->addWidget(done);
    buttons->addWidget(restore_button_);
    layout->addLayout(buttons);
    setView(root);

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
