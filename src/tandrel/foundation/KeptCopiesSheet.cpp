#include "tandrel/foundation/KeptCopiesSheet.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QVBoxLayout>

KeptCopiesSheet KeptCopiesSheet::make(const std::vector<List>& lists, const QString& text_name,
                                      const QString& restore_title) {
    KeptCopiesSheet sheet;
    sheet.root = new QWidget;
    auto* layout = new QVBoxLayout(sheet.root);
    sheet.note = new QLabel(sheet.root);
    sheet.note->setWordWrap(true);
    layout->addWidget(sheet.note);
    auto* panes = new QHBoxLayout;
    for (const auto& wanted : lists) {
        auto* list = new QListWidget(sheet.root);
        list->setAccessibleName(wanted.accessible_name);
        if (wanted.max_width > 0) list->setMaximumWidth(wanted.max_width);
        panes->addWidget(list);
        sheet.lists.push_back(list);
    }
    sheet.text = new QPlainTextEdit(sheet.root);
    sheet.text->setReadOnly(true);
    sheet.text->setLineWrapMode(QPlainTextEdit::NoWrap);
    sheet.text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    sheet.text->setAccessibleName(text_name);
    panes->addWidget(sheet.text, 1);
    layout->addLayout(panes, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    sheet.done = new QPushButton(QStringLiteral("Done"), sheet.root);
    sheet.restore = new QPushButton(restore_title, sheet.root);
    sheet.restore->setDefault(true);
    buttons->addWidget(sheet.done);
    buttons->addWidget(sheet.restore);
    layout->addLayout(buttons);
    return sheet;
}
