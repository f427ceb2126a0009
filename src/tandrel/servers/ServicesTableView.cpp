#include "tandrel/servers/ServicesTableView.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QVBoxLayout>

#include "tandrel/servers/ServerScreenWidgets.h"

namespace servers_ui {

// ---- cell ------------------------------------------------------------------------------------

TableViewCell::TableViewCell(const QString& reuseIdentifier, QWidget* parent)
    : QWidget(parent), reuseIdentifier_(reuseIdentifier), contentView_(new ColorView(this)) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void TableViewCell::setBackgroundViewColor(std::optional<ui::DynamicColor> color) {
    background_ = std::move(color);
    update();
}

void TableViewCell::setSelectedBackgroundViewColor(std::optional<ui::DynamicColor> color) {
    selectedBackground_ = std::move(color);
    update();
}

void TableViewCell::setCellBackgroundColor(std::optional<ui::DynamicColor> color) {
    cellBackground_ = std::move(color);
    update();
}

void TableViewCell::setContentBackgroundColor(std::optional<ui::DynamicColor> color) {
    contentBackground_ = color;
    static_cast<ColorView*>(contentView_)->setBackgroundColor(std::move(color));
}

void TableViewCell::setSelected(bool selected) {
    if (selected_ == selected) return;
    selected_ = selected;
    update();
}

void TableViewCell::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (cellBackground_) painter.fillRect(rect(), cellBackground_->resolvedFor(this));
    // The selected-background view covers the background view while the row is selected.
    const auto& layer = (selected_ && selectedBackground_) ? selectedBackground_ : background_;
    if (layer) painter.fillRect(rect(), layer->resolvedFor(this));
}

void TableViewCell::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    contentView_->setGeometry(rect());
}

// ---- table -----------------------------------------------------------------------------------

ServicesTableView::ServicesTableView(QWidget* parent) : QScrollArea(parent), content_(new ColorView) {
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    rows_ = new QVBoxLayout(content_);
    rows_->setContentsMargins(0, 0, 0, 0);
    rows_->setSpacing(0);
    rows_->addStretch(1);
    setWidget(content_);
    setWidgetResizable(true);
    // Clear unless told otherwise: the screen's background shows through.
    viewport()->setAutoFillBackground(false);
    content_->setAutoFillBackground(false);
}

ServicesTableView::~ServicesTableView() = default;

void ServicesTableView::registerCell(const QString& reuseIdentifier, CellFactory factory) {
    factories_[reuseIdentifier] = std::move(factory);
}

TableViewCell* ServicesTableView::dequeueReusableCell(const QString& reuseIdentifier) {
    for (auto it = pool_.begin(); it != pool_.end(); ++it) {
        TableViewCell* cell = *it;
        if (!cell || cell->reuseIdentifier() != reuseIdentifier) continue;
        pool_.erase(it);
        cell->setSelected(false);
        cell->prepareForReuse();
        return cell;
    }
    auto factory = factories_.find(reuseIdentifier);
    if (factory == factories_.end() || !factory->second) return nullptr;
    TableViewCell* cell = factory->second();
    if (cell) cell->setParent(content_);
    return cell;
}

void ServicesTableView::reloadData() {
    // Every shown cell goes back to the pool, then the data source fills the rows again.
    for (auto& cell : cells_) {
        if (!cell) continue;
        rows_->removeWidget(cell);
        cell->hide();
        pool_.push_back(cell);
    }
    cells_.clear();
    selected_.reset();
    const int count = dataSource_ ? std::max(0, dataSource_->tableView_numberOfRowsInSection(this, 0)) : 0;
    const int firstRowIndex = refreshControl_ ? 1 : 0;
    for (int row = 0; row < count; ++row) {
        TableViewCell* cell = dataSource_->tableView_cellForRowAtIndexPath(this, row);
        if (!cell) cell = new TableViewCell(QString(), content_);
        if (cell->parentWidget() != content_) cell->setParent(content_);
        // A cell handed out twice keeps only its last row.
        for (auto& shown : cells_)
            if (shown == cell) shown = nullptr;
        cell->setSelected(false);
        cell->removeEventFilter(this);
        cell->installEventFilter(this);
        rows_->insertWidget(firstRowIndex + row, cell);
        cell->show();
        cells_.push_back(cell);
    }
    // Cells of rows that are gone stay in the pool, hidden.
    content_->updateGeometry();
}

TableViewCell* ServicesTableView::cellForRow(int row) const {
    if (row < 0 || row >= static_cast<int>(cells_.size())) return nullptr;
    return cells_[static_cast<size_t>(row)];
}

void ServicesTableView::setSelectedRow(std::optional<int> row) {
    if (selected_) {
        if (TableViewCell* old = cellForRow(*selected_)) old->setSelected(false);
    }
    selected_ = row;
    if (row) {
        if (TableViewCell* cell = cellForRow(*row)) {
            cell->setSelected(true);
            ensureWidgetVisible(cell, 0, 0);
        }
    }
}

void ServicesTableView::selectRowFromUser(int row) {
    if (!allowsSelection_ || row < 0 || row >= numberOfRows()) return;
    setSelectedRow(row);
    if (delegate_) delegate_->tableView_didSelectRowAtIndexPath(this, row);
}

void ServicesTableView::addRefreshControl(RefreshControl* control) {
    if (!control || control == refreshControl_) return;
    if (refreshControl_) rows_->removeWidget(refreshControl_);
    refreshControl_ = control;
    control->setParent(content_);
    rows_->insertWidget(0, control);
}

void ServicesTableView::setBackgroundColor(std::optional<ui::DynamicColor> color) {
    static_cast<ColorView*>(content_)->setBackgroundColor(std::move(color));
}

bool ServicesTableView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        auto* cell = dynamic_cast<TableViewCell*>(watched);
        if (!cell) {
            for (int i = 0; i < numberOfRows(); ++i)
                if (cellForRow(i) == watched) cell = cellForRow(i);
        }
        if (cell && mouse->button() == Qt::LeftButton && cell->rect().contains(mouse->position().toPoint())) {
            for (int row = 0; row < numberOfRows(); ++row) {
                if (cellForRow(row) != cell) continue;
                setFocus(Qt::MouseFocusReason);
                selectRowFromUser(row);
                return true;
            }
        }
    } else if (event->type() == QEvent::MouseButtonPress) {
        // Taken here so that the release comes to the cell, not to the scroll area.
        return static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
    }
    return QScrollArea::eventFilter(watched, event);
}

void ServicesTableView::keyPressEvent(QKeyEvent* event) {
    const int rows = numberOfRows();
    switch (event->key()) {
        case Qt::Key_F5: startRefreshFromUser(); return;
        case Qt::Key_Down:
            if (rows > 0) setSelectedRow(selected_ ? std::min(rows - 1, *selected_ + 1) : 0);
            return;
        case Qt::Key_Up:
            if (rows > 0) setSelectedRow(selected_ ? std::max(0, *selected_ - 1) : rows - 1);
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (selected_) selectRowFromUser(*selected_);
            return;
        default: break;
    }
    QScrollArea::keyPressEvent(event);
}

void ServicesTableView::contextMenuEvent(QContextMenuEvent* event) {
    if (!refreshControl_) return QScrollArea::contextMenuEvent(event);
    // Shown without waiting for it: the choice arrives through the action.
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QAction* refresh = menu->addAction(QStringLiteral("Refresh"));
    refresh->setShortcut(QKeySequence(Qt::Key_F5));
    QObject::connect(refresh, &QAction::triggered, this, [this] { startRefreshFromUser(); });
    menu->popup(event->globalPos());
}

void ServicesTableView::startRefreshFromUser() {
    if (!refreshControl_ || refreshControl_->isRefreshing()) return;
    refreshControl_->beginRefreshingFromUser();
}

}  // namespace servers_ui
