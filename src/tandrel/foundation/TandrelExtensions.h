#pragma once
// Small helpers the screens share: fades, the uniform type and MIME type of a file URL, the
// display name, a solid-colour image, and three thin widgets (VornTargetedButton, VornLabel,
// FileExplorerTableView).
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QUrl>
#include <optional>
#include <string>

#include "platform/ui/Image.h"

class QWidget;

// ---- fades ---------------------------------------------------------------------------------
// Animate the view's alpha (see ui::setAlpha) over `duration` seconds; the view stays where it
// is, nothing is hidden or removed.
void fadeOut(QWidget* view, double duration);                     // to 0
void fadeIn(QWidget* view, double duration, double alphaLevel);   // to alphaLevel
void fadeOut(QWidget* view, double duration, double alphaLevel);  // to alphaLevel

// ---- uniform types ---------------------------------------------------------------------------
// The kind of a file, as drag and drop and uploads name it: an identifier and the MIME type
// that goes with it.
struct UTType {
    std::string identifier;         // "public.data", "public.item", "public.folder" or a MIME type
    std::string preferredMIMEType;  // empty when the kind has none

    static UTType data();       // generic bytes: "application/octet-stream"
    static UTType item();       // anything at all
    static UTType directory();  // "inode/directory"
    bool conformsToData() const { return identifier != item().identifier && identifier != directory().identifier; }
    bool operator==(const UTType&) const = default;
};

// The extension of a path's last component: the text after its last ".", empty when there is
// none or the only "." begins the name (".htaccess").
std::string path_extension(const std::string& path);

// A file name without any "." is a generic data file (the listing knows directories by their
// kind, never by their name); otherwise the type for the extension (a file type, conforming to
// data), or nothing when the extension is unknown.
std::optional<UTType> ut_type_for_url(const std::string& path);
std::optional<UTType> ut_type_for_url(const QUrl& url);

// The preferred MIME type for the path's extension; "application/octet-stream" when there is
// no extension or no known type. Never fails.
std::string mime_type_for_url(const std::string& path);
std::string mime_type_for_url(const QUrl& url);

// The pages the live preview shows, by the name's extension as written ("INDEX.HTML" is none):
// HTML ("html", "htm"), and the pages a web server makes from their text ("php", "phtml",
// "shtml"), which "Site" shows as served and "Live" as their text taken for HTML.
enum class PreviewPage { none, html, server };
PreviewPage preview_page_kind(const std::string& path);

// The app information's "CFBundleDisplayName" when it is text, or nothing.
std::optional<std::string> bundle_display_name();

// An image of the size (points) filled entirely with the colour.
ui::Image color_image(const QColor& color, double width, double height);

// ---- widgets ---------------------------------------------------------------------------------
// A button that carries the directory it opens (the path bar's segments).
class VornTargetedButton : public QPushButton {
public:
    explicit VornTargetedButton(QWidget* parent = nullptr);
    std::string targetDIR;
};

// A one-line label whose font shrinks (down to half its size) to fit its width.
class VornLabel : public QLabel {
public:
    explicit VornLabel(QWidget* parent = nullptr);
    explicit VornLabel(const QString& text, QWidget* parent = nullptr);

    void setText(const QString& text);  // then fits the font again

    // Always reads 1; a set value is passed on (0 lets the text wrap) but is not reported.
    int numberOfLines() const { return 1; }
    void setNumberOfLines(int lines);
    double minimumScaleFactor() const { return minimumScaleFactor_; }
    // The point size the label draws with now (after fitting).
    double fittedPointSize() const;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void fitFont();
    double basePointSize_ = 0;
    double minimumScaleFactor_ = 0.5;
    bool fitting_ = false;
};

// The file explorer's table.
class FileExplorerTableView : public QTableView {
public:
    explicit FileExplorerTableView(QWidget* parent = nullptr);
    // Select All (the Edit menu's, found along the responder chain, and Ctrl+A) selects every
    // row whose first cell is not true for this role, e.g. the up-one-level row; -1 selects all.
    void setSelectAllSkipRole(int role) { selectAllSkipRole_ = role; }
    void selectAll() override;
    // The row the keyboard is on: the current one, or, while the table is without the focus, the
    // one put aside for its return (see focusOutEvent).
    QModelIndex keyboardRow() const { return currentIndex().isValid() ? currentIndex() : QModelIndex(setAside_); }
    // Puts the keyboard on `index` the same way: the current row, or the one put aside. A new
    // listing (which makes every row anew) keeps the keyboard's row so, focused or not.
    void setKeyboardRow(const QModelIndex& index);

protected:
    // Home and End go to the first and the last row (the table is read row by row).
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    // Shift+F10 and the Menu key ask for the current row's menu, at that row.
    void keyPressEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;
    // The current row is the focused one only while the table has the focus: an assistive
    // technology reads the current cell as focused, so it is put aside while the focus is
    // elsewhere (a row menu keeps it) and comes back with the focus.
    void focusOutEvent(QFocusEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    void requestRowMenu();
    QPersistentModelIndex setAside_;
    int selectAllSkipRole_ = -1;
};
