#pragma once
// The layout the sheets of kept server copies share (a document's History…, a folder's Deleted
// Files…): a note on top; under it, side by side, the lists to pick from (left to right) and a
// read-only text pane; Done and Restore (the default button) at the bottom right. The sheets
// fill in the texts and connect the parts; the widgets belong to `root`.
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QString>
#include <QWidget>
#include <vector>

struct KeptCopiesSheet {
    struct List {
        QString accessible_name;
        int max_width = 0;
    };
    QWidget* root = nullptr;
    QLabel* note = nullptr;
    std::vector<QListWidget*> lists;  // as asked, left to right
    QPlainTextEdit* text = nullptr;
    QPushButton* done = nullptr;
    QPushButton* restore = nullptr;

    static KeptCopiesSheet make(const std::vector<List>& lists, const QString& text_name, const QString& restore_title);
};
