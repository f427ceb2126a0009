#pragma once
// A split view: up to three columns (primary, supplementary, secondary) side by side, and a
// compact column shown alone when the split view is collapsed (always on the phone idiom; on the
// pad idiom when it is narrower than compactWidthThreshold; never on the desktop). The display
// mode says which columns show beside the secondary one; `automatic` shows the primary column
// beside the secondary one when there is a primary column and room for both.
//
// Columns are screens kept by the split view (as child controllers); their views are placed in
// the split view's root widget whenever it is resized or the columns or modes change.
#include <QObject>
#include <QPointer>
#include <array>
#include <memory>

#include "platform/ui/ViewController.h"

namespace ui {

class SplitViewController : public ViewController {
    Q_OBJECT
public:
    enum class Style { unspecified, doubleColumn, tripleColumn };
    enum class Column { primary = 0, supplementary = 1, secondary = 2, compact = 3 };
    enum class DisplayMode { automatic, secondaryOnly, oneBesideSecondary, oneOverSecondary, twoBesideSecondary };
    enum class SplitBehavior { automatic, tile, overlay, displace };
    enum class PrimaryEdge { leading, trailing };
    enum class BackgroundStyle { none, sidebar };

    explicit SplitViewController(Style style = Style::unspecified);
    ~SplitViewController() override;

    Style style() const { return style_; }

    void setViewController(const std::shared_ptr<ViewController>& controller, Column column);
    ViewController* viewController(Column column) const;
    std::shared_ptr<ViewController> viewControllerShared(Column column) const;

    DisplayMode preferredDisplayMode() const { return preferredDisplayMode_; }
    void setPreferredDisplayMode(DisplayMode mode);
    // What shows now (never `automatic`).
    DisplayMode displayMode() const;
    bool isCollapsed() const;

    double minimumPrimaryColumnWidth() const { return minimumPrimaryColumnWidth_; }
    void setMinimumPrimaryColumnWidth(double width);
    double maximumPrimaryColumnWidth() const { return maximumPrimaryColumnWidth_; }
    void setMaximumPrimaryColumnWidth(double width);
    // Below this width the split view collapses on the pad idiom.
    static constexpr double compactWidthThreshold = 600.0;

    SplitBehavior preferredSplitBehavior() const { return splitBehavior_; }
    void setPreferredSplitBehavior(SplitBehavior behavior) { splitBehavior_ = behavior; }
    PrimaryEdge primaryEdge() const { return primaryEdge_; }
    void setPrimaryEdge(PrimaryEdge edge);
    BackgroundStyle primaryBackgroundStyle() const { return primaryBackgroundStyle_; }
    void setPrimaryBackgroundStyle(BackgroundStyle style) { primaryBackgroundStyle_ = style; }
    bool showsSecondaryOnlyButton() const { return showsSecondaryOnlyButton_; }
    void setShowsSecondaryOnlyButton(bool shows) { showsSecondaryOnlyButton_ = shows; }
    virtual bool presentsWithGesture() const { return presentsWithGesture_; }
    virtual void setPresentsWithGesture(bool presents) { presentsWithGesture_ = presents; }

    // Told of nothing yet; kept weakly for callers that set it.
    QPointer<QObject> delegate;

    // Places the column views now.
    void layoutColumns();

signals:
    void displayModeChanged();
    void collapsedChanged(bool collapsed);

protected:
    void loadView() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Style style_;
    std::array<std::shared_ptr<ViewController>, 4> columns_;
    DisplayMode preferredDisplayMode_ = DisplayMode::automatic;
    double minimumPrimaryColumnWidth_ = 240.0;
    double maximumPrimaryColumnWidth_ = 420.0;
    SplitBehavior splitBehavior_ = SplitBehavior::automatic;
    PrimaryEdge primaryEdge_ = PrimaryEdge::leading;
    BackgroundStyle primaryBackgroundStyle_ = BackgroundStyle::none;
    bool showsSecondaryOnlyButton_ = true;
    bool presentsWithGesture_ = true;
    bool lastCollapsed_ = false;
    bool laidOut_ = false;
};

}  // namespace ui
