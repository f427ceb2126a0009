#include "tandrel/servers/FileExplorerListingModel.h"

#include <QMimeData>
#include <QPainter>
#include <QWidget>

#include "tandrel/foundation/EnumManagerImages.h"
#include "tandrel/foundation/XCol.h"
#include "tandrel/servers/ExplorerStyle.h"

// ---- model ---------------------------------------------------------------------------------

FileExplorerListingModel::FileExplorerListingModel(QObject* parent) : QAbstractTableModel(parent) {}

void FileExplorerListingModel::setListing(std::shared_ptr<VornServerFilesDataModel> listing) {
    beginResetModel();
    listing_ = std::move(listing);
    rows_.clear();
    if (listing_ && listing_->fileSections) rows_ = *listing_->fileSections;
    cells_.assign(rows_.size(), std::nullopt);
    configured_ = 0;
    endResetModel();
}

void FileExplorerListingModel::clearRows() {
    beginResetModel();
    listing_.reset();
    rows_.clear();
    cells_.clear();
    configured_ = 0;
    endResetModel();
}

void FileExplorerListingModel::invalidateRows() {
    for (auto& cell : cells_) cell.reset();
    configured_ = 0;
    if (!rows_.empty()) emit dataChanged(index(0, 0), index(static_cast<int>(rows_.size()) - 1, 0));
}

int FileExplorerListingModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int FileExplorerListingModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 1; }

std::shared_ptr<VornServerFileDataModel> FileExplorerListingModel::entryAt(int row) const {
    if (row < 0 || row >= static_cast<int>(rows_.size())) return nullptr;
    return rows_[static_cast<size_t>(row)];
}

const FileViewTableViewCell* FileExplorerListingModel::cellAt(int row) const {
    if (row < 0 || row >= static_cast<int>(rows_.size())) return nullptr;
    auto& slot = cells_[static_cast<size_t>(row)];
    if (!slot) {
        FileViewTableViewCell cell;
        cell.fileInfo = rows_[static_cast<size_t>(row)];
        cell.configure_size();
        slot = std::move(cell);
        ++configured_;
    }
    return &*slot;
}

QVariant FileExplorerListingModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.column() != 0) return {};
    const FileViewTableViewCell* cell = cellAt(index.row());
    if (!cell) return {};
    const auto& entry = cell->fileInfo;
    switch (role) {
        case Qt::DisplayRole: return cell->title_lbl;
        case Qt::ToolTipRole:
            return cell->size_lbl.isEmpty() ? cell->title_lbl : cell->title_lbl + QStringLiteral(" \u2014 ") + cell->size_lbl;
        case SizeTextRole: return cell->size_lbl;
        case IconKindRole: return static_cast<int>(cell->icon_kind);
        case FolderColourRole: return cell->folder_colour;
        case PathRole: return entry && entry->path ? QString::fromStdString(*entry->path) : QString();
        case UpOneLevelRole:
            return entry && entry->special_assignment &&
                   *entry->special_assignment == EnumManager::file_special_assignment::up_one_level;
        case IsDirectoryRole: return entry && FileViewTableViewCell::is_directory(*entry);
        default: return {};
    }
}

Qt::ItemFlags FileExplorerListingModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return drop_handler ? Qt::ItemIsDropEnabled : Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (drag_provider) f |= Qt::ItemIsDragEnabled;
    if (drop_handler) f |= Qt::ItemIsDropEnabled;
    return f;
}

QStringList FileExplorerListingModel::mimeTypes() const { return drop_mime_types; }

QMimeData* FileExplorerListingModel::mimeData(const QModelIndexList& indexes) const {
    return drag_provider ? drag_provider(indexes) : nullptr;
}

bool FileExplorerListingModel::canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int,
                                               const QModelIndex& parent) const {
    if (!drop_handler || !data) return false;
    const int target = row >= 0 ? row : (parent.isValid() ? parent.row() : -1);
    return drop_acceptor ? drop_acceptor(data, action, target) : true;
}

bool FileExplorerListingModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int,
                                            const QModelIndex& parent) {
    if (!drop_handler || !data) return false;
    const int target = row >= 0 ? row : (parent.isValid() ? parent.row() : -1);
    return drop_handler(data, action, target);
}

Qt::DropActions FileExplorerListingModel::supportedDropActions() const {
    return drop_handler ? (Qt::CopyAction | Qt::MoveAction) : Qt::IgnoreAction;
}

Qt::DropActions FileExplorerListingModel::supportedDragActions() const {
    return drag_provider ? Qt::CopyAction : Qt::IgnoreAction;
}

// ---- painter ---------------------------------------------------------------------------------

FileViewTableViewCellPainter::FileViewTableViewCellPainter(QObject* parent) : QStyledItemDelegate(parent) {}

QSize FileViewTableViewCellPainter::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    return {option.rect.width() > 0 ? option.rect.width() : 300, kRowHeight};
}

QPixmap FileViewTableViewCellPainter::iconPixmap(EnumManager::file_icon_kind kind, const QColor& tint, int side,
                                                 qreal dpr) const {
    const QString key = QStringLiteral("%1/%2/%3/%4").arg(static_cast<int>(kind)).arg(tint.rgba()).arg(side).arg(dpr);
    auto it = icons_.constFind(key);
    if (it != icons_.constEnd()) return *it;
    const ui::Image image = file_type_symbol(tint, kind);
    QPixmap pixmap = image.isNull() ? QPixmap() : image.pixmap(QSize(side, side), dpr);
    icons_.insert(key, pixmap);
    return pixmap;
}

void FileViewTableViewCellPainter::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                         const QModelIndex& index) const {
    const auto* model = qobject_cast<const FileExplorerListingModel*>(index.model());
    const FileViewTableViewCell* cell = model ? model->cellAt(index.row()) : nullptr;
    if (!cell) return;
    const QWidget* widget = option.widget;

    painter->save();
    const QRect r = option.rect;
    if (option.state & QStyle::State_Selected) {
        painter->fillRect(r, XCol::selected_row().resolvedFor(widget));
    } else if (option.state & QStyle::State_MouseOver) {
        QColor hover = XCol::selected_row().resolvedFor(widget);
        hover.setAlphaF(0.45f);
        painter->fillRect(r, hover);
    }

    const int side = FileViewTableViewCell::icon_side_length();
    const int iconX = r.left() + 10;
    const QColor tint = cell->folder_colour ? XCol::yellow().resolvedFor(widget) : XCol::teal().resolvedFor(widget);
    const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    const QPixmap icon = iconPixmap(cell->icon_kind, tint, side, dpr);
    if (!icon.isNull()) {
        painter->drawPixmap(QRect(iconX, r.top() + (r.height() - side) / 2, side, side), icon);
    }

    const QFont font = explorer_style::body_font();
    painter->setFont(font);
    const RowLayout layout = layout_row(r, *cell, painter->fontMetrics());

    const QColor titleColour =
        cell->folder_colour ? XCol::yellow().resolvedFor(widget) : XCol::foreground().resolvedFor(widget);
    painter->setPen(titleColour);
    painter->drawText(layout.title, Qt::AlignLeft | Qt::AlignVCenter, layout.shown_title);

    if (!cell->size_lbl.isEmpty()) {
        painter->setPen(XCol::purple().resolvedFor(widget));
        painter->drawText(layout.size, Qt::AlignRight | Qt::AlignVCenter, cell->size_lbl);
    }
    painter->restore();
}

FileViewTableViewCellPainter::RowLayout FileViewTableViewCellPainter::layout_row(const QRect& r,
                                                                                 const FileViewTableViewCell& cell,
                                                                                 const QFontMetrics& metrics) {
    RowLayout out;
    const int side = FileViewTableViewCell::icon_side_length();
    const int titleLeft = r.left() + 10 + side + 5;
    const int sizeRight = r.right() - 10;
    // The size column is as wide as its text (none without one), up to kSizeWidth; the gap of 5
    // before it only when there is a size.
    const int sizeWidth =
        cell.size_lbl.isEmpty() ? 0 : std::min(kSizeWidth, metrics.horizontalAdvance(cell.size_lbl) + 2);
    out.size = QRect(sizeRight - sizeWidth + 1, r.top(), sizeWidth, r.height());
    const int titleRight = sizeWidth > 0 ? out.size.left() - 5 : sizeRight + 1;
    out.title = QRect(titleLeft, r.top() + (r.height() - 30) / 2, std::max(0, titleRight - titleLeft), 30);
    out.shown_title = metrics.elidedText(cell.title_lbl, Qt::ElideRight, out.title.width());
    return out;
}
