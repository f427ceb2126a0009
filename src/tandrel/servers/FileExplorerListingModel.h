#pragma once
// The file explorer's table model and row painter. The model shows one listing: one section,
// one row per entry of `fileSections` in list order, one column. A new listing replaces the old
// one in a single model reset; rows are turned into their drawn form (FileViewTableViewCell) only
// when first asked for, so a 10,000-entry folder costs nothing for the rows never seen.
#include <QAbstractTableModel>
#include <QFontMetrics>
#include <QHash>
#include <QIcon>
#include <QStyledItemDelegate>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "tandrel/foundation/VornServerFilesDataModel.h"
#include "tandrel/servers/FileViewTableViewCell.h"

class QMimeData;

class FileExplorerListingModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // Data roles beyond the standard ones (display = title, tooltip = title and size).
    enum Role {
        SizeTextRole = Qt::UserRole + 1,  // QString
        IconKindRole,                     // int, EnumManager::file_icon_kind
        FolderColourRole,                 // bool
        PathRole,                         // QString, empty when the entry has none
        UpOneLevelRole,                   // bool
        IsDirectoryRole,                  // bool
    };

    explicit FileExplorerListingModel(QObject* parent = nullptr);

    // Shows the listing (none: no rows), in one reset.
    void setListing(std::shared_ptr<VornServerFilesDataModel> listing);
    // Drops every row (the listing object is left as it is), in one reset.
    void clearRows();
    // Throws away the drawn rows so they are made again (after an appearance change).
    void invalidateRows();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The entry at a row, or nothing outside the list.
    std::shared_ptr<VornServerFileDataModel> entryAt(int row) const;
    // The drawn form of a row (made on first use), or nothing outside the list.
    const FileViewTableViewCell* cellAt(int row) const;
    // How many rows have been turned into their drawn form since the last reset.
    int configuredRowCount() const { return configured_; }

    // Drag and drop on the table, for whoever provides it: rows can be dragged while
    // `drag_provider` is set, and data dropped while `drop_acceptor` accepts it.
    std::function<QMimeData*(const QModelIndexList&)> drag_provider;
    std::function<bool(const QMimeData*, Qt::DropAction, int row)> drop_acceptor;
    std::function<bool(const QMimeData*, Qt::DropAction, int row)> drop_handler;
    QStringList drop_mime_types;

    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;
    Qt::DropActions supportedDropActions() const override;
    Qt::DropActions supportedDragActions() const override;

private:
    std::shared_ptr<VornServerFilesDataModel> listing_;
    std::vector<std::shared_ptr<VornServerFileDataModel>> rows_;
    mutable std::vector<std::optional<FileViewTableViewCell>> cells_;
    mutable int configured_ = 0;
};

// Draws one row: icon (16 points on the desktop) 10 points from the leading edge, the title 5
// points after it in the primary text colour (folders in the folder colour), the size right-
// aligned 10 points from the trailing edge, in violet. The size takes only the width of its
// text (at most 120 points): the title has the rest of the row.
class FileViewTableViewCellPainter : public QStyledItemDelegate {
public:
    explicit FileViewTableViewCellPainter(QObject* parent = nullptr);
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // Where a row's texts go in the row's rectangle, and the title as drawn (cut short with "…"
    // only when the row has no room for all of it), for the body font's metrics.
    struct RowLayout {
        QRect title;
        QRect size;
        QString shown_title;
    };
    static RowLayout layout_row(const QRect& row, const FileViewTableViewCell& cell, const QFontMetrics& metrics);

    static constexpr int kRowHeight = 34;
    static constexpr int kSizeWidth = 120;

private:
    // Icons are drawn once per kind, colour and size.
    QPixmap iconPixmap(EnumManager::file_icon_kind kind, const QColor& tint, int side, qreal dpr) const;
    mutable QHash<QString, QPixmap> icons_;
};
