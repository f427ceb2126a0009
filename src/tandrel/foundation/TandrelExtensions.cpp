#include "tandrel/foundation/TandrelExtensions.h"

#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QKeyEvent>

#include "tandrel/foundation/AppGlobals.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QMimeDatabase>
#include <QResizeEvent>
#include <algorithm>

#include "platform/ui/View.h"

void fadeOut(QWidget* view, double duration) { ui::animateAlpha(view, 0.0, duration); }
void fadeIn(QWidget* view, double duration, double alphaLevel) { ui::animateAlpha(view, alphaLevel, duration); }
void fadeOut(QWidget* view, double duration, double alphaLevel) { ui::animateAlpha(view, alphaLevel, duration); }

UTType UTType::data() { return UTType{"public.data", "application/octet-stream"}; }
UTType UTType::item() { return UTType{"public.item", ""}; }
UTType UTType::directory() { return UTType{"public.folder", "inode/directory"}; }

namespace {

std::string last_component(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    const auto slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

// The MIME type the system knows for an extension, or nothing.
std::optional<QMimeType> mime_for_extension(const std::string& extension) {
    if (extension.empty()) return std::nullopt;
    static const QMimeDatabase db;
    // By extension only: a name like "Makefile" or "README" must not decide the type.
    const QMimeType t = db.mimeTypeForFile(QStringLiteral("file.") + QString::fromStdString(extension),
                                           QMimeDatabase::MatchExtension);
    if (!t.isValid() || t.isDefault()) return std::nullopt;
    return t;
}

std::string path_of(const QUrl& url) { return url.isLocalFile() ? url.toLocalFile().toStdString() : url.path().toStdString(); }

}  // namespace

std::string path_extension(const std::string& path) {
    const std::string name = last_component(path);
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return "";
    return name.substr(dot + 1);
}

std::optional<UTType> ut_type_for_url(const std::string& path) {
    const std::string name = last_component(path);
    if (name.find('.') == std::string::npos) return UTType::data();
    const auto mime = mime_for_extension(path_extension(path));
    if (!mime) return std::nullopt;
    if (mime->name().startsWith(QLatin1String("inode/"))) return std::nullopt;  // not a file type
    const std::string name_ = mime->name().toStdString();
    return UTType{name_, name_};
}

std::optional<UTType> ut_type_for_url(const QUrl& url) { return ut_type_for_url(path_of(url)); }

std::string mime_type_for_url(const std::string& path) {
    const auto mime = mime_for_extension(path_extension(path));
    if (!mime || mime->name().startsWith(QLatin1String("inode/"))) return "application/octet-stream";
    return mime->name().toStdString();
}

std::string mime_type_for_url(const QUrl& url) { return mime_type_for_url(path_of(url)); }

PreviewPage preview_page_kind(const std::string& path) {
    const std::string extension = path_extension(path);
    if (extension == "html" || extension == "htm") return PreviewPage::html;
    if (extension == "php" || extension == "phtml" || extension == "shtml") return PreviewPage::server;
    return PreviewPage::none;
}

std::optional<std::string> bundle_display_name() {
    const auto& info = app_bundle_info();
    auto it = info.find("CFBundleDisplayName");
    if (it == info.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

ui::Image color_image(const QColor& color, double width, double height) {
    return ui::solidColorImage(color, width, height);
}

VornTargetedButton::VornTargetedButton(QWidget* parent) : QPushButton(parent), targetDIR("") {}

VornLabel::VornLabel(QWidget* parent) : VornLabel(QString(), parent) {}

VornLabel::VornLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    basePointSize_ = font().pointSizeF();
    setWordWrap(false);
}

void VornLabel::setText(const QString& text) {
    QLabel::setText(text);
    fitFont();
}

void VornLabel::setNumberOfLines(int lines) { setWordWrap(lines != 1); }

double VornLabel::fittedPointSize() const { return font().pointSizeF(); }

void VornLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    fitFont();
}

void VornLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange && !fitting_) {
        basePointSize_ = font().pointSizeF();
        fitFont();
    }
}

void VornLabel::fitFont() {
    if (fitting_ || basePointSize_ <= 0 || width() <= 0 || wordWrap()) return;
    fitting_ = true;
    QFont f = font();
    const double available = contentsRect().width();
    double size = basePointSize_;
    const double smallest = basePointSize_ * minimumScaleFactor_;
    f.setPointSizeF(size);
    while (size > smallest && QFontMetricsF(f).horizontalAdvance(text()) > available) {
        size = std::max(smallest, size - 0.5);
        f.setPointSizeF(size);
    }
    if (f.pointSizeF() != font().pointSizeF()) setFont(f);
    fitting_ = false;
}

FileExplorerTableView::FileExplorerTableView(QWidget* parent) : QTableView(parent) {}

QModelIndex FileExplorerTableView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) {
    QAbstractItemModel* items = model();
    if (items && (cursorAction == MoveHome || cursorAction == MoveEnd) && items->rowCount(rootIndex()) > 0) {
        const int column = currentIndex().isValid() ? currentIndex().column() : 0;
        const int rows = items->rowCount(rootIndex());
        for (int step = 0; step < rows; ++step) {
            const int row = cursorAction == MoveHome ? step : rows - 1 - step;
            if (!isRowHidden(row)) return items->index(row, column, rootIndex());
        }
    }
    return QTableView::moveCursor(cursorAction, modifiers);
}

void FileExplorerTableView::keyPressEvent(QKeyEvent* event) {
    const bool shiftF10 = event->key() == Qt::Key_F10 && (event->modifiers() & ~Qt::KeypadModifier) == Qt::ShiftModifier;
    if (shiftF10 || event->key() == Qt::Key_Menu) {
        requestRowMenu();
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

bool FileExplorerTableView::event(QEvent* event) {
    // The menu a key asks for is the current row's, wherever the text cursor would be.
    if (event->type() == QEvent::ContextMenu &&
        static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard) {
        requestRowMenu();
        event->accept();
        return true;
    }
    return QTableView::event(event);
}

void FileExplorerTableView::focusOutEvent(QFocusEvent* event) {
    QTableView::focusOutEvent(event);
    if (event->reason() == Qt::PopupFocusReason || !selectionModel() || !currentIndex().isValid()) return;
    setAside_ = currentIndex();
    selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
}

void FileExplorerTableView::focusInEvent(QFocusEvent* event) {
    if (selectionModel() && setAside_.isValid() && !currentIndex().isValid())
        selectionModel()->setCurrentIndex(setAside_, QItemSelectionModel::NoUpdate);
    setAside_ = QPersistentModelIndex();
    QTableView::focusInEvent(event);
}

void FileExplorerTableView::setKeyboardRow(const QModelIndex& index) {
    if (!selectionModel()) return;
    if (hasFocus() || currentIndex().isValid()) {
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    } else {
        setAside_ = index;
    }
}

void FileExplorerTableView::requestRowMenu() {
    const QModelIndex current = currentIndex();
    if (!current.isValid() || contextMenuPolicy() != Qt::CustomContextMenu) return;
    scrollTo(current);
    emit customContextMenuRequested(visualRect(current).center());
}

void FileExplorerTableView::selectAll() {
    QAbstractItemModel* items = model();
    QItemSelectionModel* selection = selectionModel();
    if (!items || !selection || selectAllSkipRole_ < 0) {
        QTableView::selectAll();
        return;
    }
    if (selectionMode() != QAbstractItemView::ExtendedSelection && selectionMode() != QAbstractItemView::MultiSelection) {
        return;
    }
    const QModelIndex root = rootIndex();
    const int lastColumn = items->columnCount(root) - 1;
    if (lastColumn < 0) return;
    QItemSelection rows;
    for (int row = 0; row < items->rowCount(root); ++row) {
        if (isRowHidden(row)) continue;
        const QModelIndex first = items->index(row, 0, root);
        if (first.data(selectAllSkipRole_).toBool()) continue;
        rows.select(first, items->index(row, lastColumn, root));
    }
    selection->select(rows, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}
