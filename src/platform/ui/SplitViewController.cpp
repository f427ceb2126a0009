#include "platform/ui/SplitViewController.h"

#include <QEvent>
#include <QWidget>
#include <algorithm>

#include "platform/ui/Idiom.h"

namespace ui {

namespace {
constexpr int index(SplitViewController::Column column) { return static_cast<int>(column); }
// The share of the width the primary column asks for, within its minimum and maximum.
constexpr double kPrimaryFraction = 0.35;
}  // namespace

SplitViewController::SplitViewController(Style style) : style_(style) {}

SplitViewController::~SplitViewController() = default;

void SplitViewController::loadView() {
    auto* root = new QWidget();
    root->installEventFilter(this);
    setView(root);
}

void SplitViewController::setViewController(const std::shared_ptr<ViewController>& controller, Column column) {
    auto& slot = columns_[index(column)];
    if (slot == controller) return;
    if (slot) {
        if (QWidget* old = slot->viewIfLoaded()) {
            old->hide();
            old->setParent(nullptr);
        }
        // A screen may hold two columns only when the same object is given twice.
        bool elsewhere = false;
        for (const auto& other : columns_) elsewhere = elsewhere || (other == slot && &other != &slot);
        if (!elsewhere) slot->removeFromParentViewController();
    }
    slot = controller;
    if (controller && controller->parentViewController() != this) addChildViewController(controller);
    if (isViewLoaded()) layoutColumns();
}

ViewController* SplitViewController::viewController(Column column) const { return columns_[index(column)].get(); }

std::shared_ptr<ViewController> SplitViewController::viewControllerShared(Column column) const {
    return columns_[index(column)];
}

void SplitViewController::setPreferredDisplayMode(DisplayMode mode) {
    if (preferredDisplayMode_ == mode) return;
    preferredDisplayMode_ = mode;
    if (isViewLoaded()) layoutColumns();
    emit displayModeChanged();
}

void SplitViewController::setMinimumPrimaryColumnWidth(double width) {
    minimumPrimaryColumnWidth_ = std::max(0.0, width);
    if (isViewLoaded()) layoutColumns();
}

void SplitViewController::setMaximumPrimaryColumnWidth(double width) {
    maximumPrimaryColumnWidth_ = std::max(0.0, width);
    if (isViewLoaded()) layoutColumns();
}

void SplitViewController::setPrimaryEdge(PrimaryEdge edge) {
    primaryEdge_ = edge;
    if (isViewLoaded()) layoutColumns();
}

bool SplitViewController::isCollapsed() const {
    switch (userInterfaceIdiom()) {
        case Idiom::phone: return true;
        case Idiom::pad: {
            const QWidget* root = viewIfLoaded();
            return root && root->width() > 0 && root->width() < compactWidthThreshold;
        }
        default: return false;
    }
}

SplitViewController::DisplayMode SplitViewController::displayMode() const {
    if (preferredDisplayMode_ != DisplayMode::automatic) return preferredDisplayMode_;
    if (!columns_[index(Column::primary)]) return DisplayMode::secondaryOnly;
    const QWidget* root = viewIfLoaded();
    const double width = root ? root->width() : 0;
    if (root && width < minimumPrimaryColumnWidth_ + compactWidthThreshold / 2) return DisplayMode::secondaryOnly;
    return DisplayMode::oneBesideSecondary;
}

void SplitViewController::layoutColumns() {
    QWidget* root = viewIfLoaded();
    if (!root) return;
    const QRect bounds = root->rect();
    const bool collapsed = isCollapsed();

    auto place = [root](const std::shared_ptr<ViewController>& c, const QRect& frame) {
        if (!c) return;
        QWidget* v = c->view();
        if (v->parentWidget() != root) v->setParent(root);
        v->setGeometry(frame);
        v->show();
    };
    auto conceal = [root](const std::shared_ptr<ViewController>& c) {
        if (!c) return;
        if (QWidget* v = c->viewIfLoaded(); v && v->parentWidget() == root) v->hide();
    };

    const auto& primary = columns_[index(Column::primary)];
    const auto& supplementary = columns_[index(Column::supplementary)];
    const auto& secondary = columns_[index(Column::secondary)];
    const auto& compact = columns_[index(Column::compact)];

    if (collapsed) {
        // Alone: the compact column, or else the secondary one.
        const auto& shown = compact ? compact : secondary;
        for (const auto& c : columns_) {
            if (c != shown) conceal(c);
        }
        place(shown, bounds);
    } else {
        conceal(compact);
        const DisplayMode mode = displayMode();
        const bool showPrimary = primary && mode != DisplayMode::secondaryOnly;
        const bool showSupplementary = supplementary && mode == DisplayMode::twoBesideSecondary;
        const int total = bounds.width();
        int primaryWidth = 0;
        if (showPrimary) {
            primaryWidth = static_cast<int>(std::clamp(total * kPrimaryFraction, minimumPrimaryColumnWidth_,
                                                       std::max(minimumPrimaryColumnWidth_, maximumPrimaryColumnWidth_)));
            primaryWidth = std::min(primaryWidth, total / 2);
        }
        int supplementaryWidth = showSupplementary ? std::min(primaryWidth, total / 4) : 0;
        const bool overlay = mode == DisplayMode::oneOverSecondary;
        const int secondaryWidth = overlay ? total : total - primaryWidth - supplementaryWidth;
        const bool trailing = primaryEdge_ == PrimaryEdge::trailing;

        int x = 0;
        QRect primaryFrame, supplementaryFrame, secondaryFrame;
        if (!trailing) {
            primaryFrame = QRect(0, 0, primaryWidth, bounds.height());
            x = primaryWidth;
            supplementaryFrame = QRect(x, 0, supplementaryWidth, bounds.height());
            x += supplementaryWidth;
            secondaryFrame = QRect(overlay ? 0 : x, 0, secondaryWidth, bounds.height());
        } else {
            secondaryFrame = QRect(0, 0, secondaryWidth, bounds.height());
            x = overlay ? total - primaryWidth - supplementaryWidth : secondaryWidth;
            supplementaryFrame = QRect(x, 0, supplementaryWidth, bounds.height());
            x += supplementaryWidth;
            primaryFrame = QRect(x, 0, primaryWidth, bounds.height());
        }
        place(secondary, secondaryFrame);
        if (showSupplementary) place(supplementary, supplementaryFrame);
        else if (supplementary != secondary) conceal(supplementary);
        if (showPrimary) {
            place(primary, primaryFrame);
            if (overlay && primary->viewIfLoaded()) primary->viewIfLoaded()->raise();
        } else if (primary != secondary) {
            conceal(primary);
        }
    }
    if (laidOut_ && collapsed != lastCollapsed_) {
        lastCollapsed_ = collapsed;
        emit collapsedChanged(collapsed);
    }
    lastCollapsed_ = collapsed;
    laidOut_ = true;
}

bool SplitViewController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == viewIfLoaded() && (event->type() == QEvent::Resize || event->type() == QEvent::Show)) {
        layoutColumns();
    }
    return ViewController::eventFilter(watched, event);
}

}  // namespace ui
