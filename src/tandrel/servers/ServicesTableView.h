#pragma once
// A small single-section table for short lists of rich rows (the saved servers): each row is a
// cell widget that the data source fills, stacked top to bottom in a scroll area. Cells are
// reused across reloads by their reuse identifier. A click (or Return on the current row)
// selects a row and tells the delegate; the refresh control, when one is added, sits above the
// rows and is started by F5 or the context menu's "Refresh".
#include <QPointer>
#include <QScrollArea>
#include <QString>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "platform/ui/Color.h"
#include "tandrel/servers/ServerScreenWidgets.h"

class QVBoxLayout;

namespace servers_ui {

class ServicesTableView;

// The base of the table's cells: a content view that fills the cell, a background colour and a
// colour for the selected state (both drawn when set; none is clear).
class TableViewCell : public QWidget {
public:
    explicit TableViewCell(const QString& reuseIdentifier, QWidget* parent = nullptr);

    const QString& reuseIdentifier() const { return reuseIdentifier_; }
    QWidget* contentView() const { return contentView_; }

    void setBackgroundViewColor(std::optional<ui::DynamicColor> color);
    const std::optional<ui::DynamicColor>& backgroundViewColor() const { return background_; }
    void setSelectedBackgroundViewColor(std::optional<ui::DynamicColor> color);
    const std::optional<ui::DynamicColor>& selectedBackgroundViewColor() const { return selectedBackground_; }
    void setCellBackgroundColor(std::optional<ui::DynamicColor> color);
    void setContentBackgroundColor(std::optional<ui::DynamicColor> color);

    bool isSelected() const { return selected_; }
    void setSelected(bool selected);

    // Called before the table hands the cell out again.
    virtual void prepareForReuse() {}

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QString reuseIdentifier_;
    QWidget* contentView_;
    std::optional<ui::DynamicColor> background_;
    std::optional<ui::DynamicColor> selectedBackground_;
    std::optional<ui::DynamicColor> cellBackground_;
    std::optional<ui::DynamicColor> contentBackground_;
    bool selected_ = false;
};

class TableViewDataSource {
public:
    virtual ~TableViewDataSource() = default;
    virtual int tableView_numberOfRowsInSection(ServicesTableView* table, int section) = 0;
    virtual TableViewCell* tableView_cellForRowAtIndexPath(ServicesTableView* table, int row) = 0;
};

class TableViewDelegate {
public:
    virtual ~TableViewDelegate() = default;
    virtual void tableView_didSelectRowAtIndexPath(ServicesTableView* table, int row) = 0;
};

class ServicesTableView : public QScrollArea {
    Q_OBJECT
public:
    explicit ServicesTableView(QWidget* parent = nullptr);
    ~ServicesTableView() override;

    // Not owned; the owner outlives the table's use of them (or clears them).
    void setDataSource(TableViewDataSource* dataSource) { dataSource_ = dataSource; }
    void setDelegate(TableViewDelegate* delegate) { delegate_ = delegate; }

    using CellFactory = std::function<TableViewCell*()>;
    void registerCell(const QString& reuseIdentifier, CellFactory factory);
    // A cell from the reuse pool (prepared for reuse) or a new one; nullptr for an unknown
    // identifier.
    TableViewCell* dequeueReusableCell(const QString& reuseIdentifier);

    // Asks the data source again for every row (the one section).
    void reloadData();
    void reloadSections() { reloadData(); }
    // Rows shown now, and the cell of a row (nullptr outside).
    int numberOfRows() const { return static_cast<int>(cells_.size()); }
    TableViewCell* cellForRow(int row) const;

    bool allowsSelection() const { return allowsSelection_; }
    void setAllowsSelection(bool allows) { allowsSelection_ = allows; }
    bool allowsSelectionDuringEditing() const { return false; }
    // Selects the row as a click does, telling the delegate.
    void selectRowFromUser(int row);
    std::optional<int> indexPathForSelectedRow() const { return selected_; }

    // The refresh control is placed above the rows (the table takes it).
    void addRefreshControl(RefreshControl* control);
    RefreshControl* refreshControl() const { return refreshControl_; }

    // Row height as the cells ask for it (automatic) and the estimate used before a cell exists.
    void setEstimatedRowHeight(int height) { estimatedRowHeight_ = height; }
    int estimatedRowHeight() const { return estimatedRowHeight_; }

    // The view drawn behind the rows (none: the table's own background, clear here).
    void setBackgroundColor(std::optional<ui::DynamicColor> color);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void setSelectedRow(std::optional<int> row);
    void startRefreshFromUser();

    TableViewDataSource* dataSource_ = nullptr;
    TableViewDelegate* delegate_ = nullptr;
    QWidget* content_;
    QVBoxLayout* rows_;
    std::map<QString, CellFactory> factories_;
    std::vector<QPointer<TableViewCell>> cells_;
    std::vector<QPointer<TableViewCell>> pool_;
    std::optional<int> selected_;
    bool allowsSelection_ = true;
    int estimatedRowHeight_ = 44;
    QPointer<RefreshControl> refreshControl_;
};

}  // namespace servers_ui
