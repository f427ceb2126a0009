#pragma once
// Widgets and styling the two server screens share: text-style fonts, colours that follow the
// light or dark appearance, filled and gray buttons, a two-or-more segment control, a spinner
// and a refresh control.
#include <QFont>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <optional>

#include "platform/ui/Color.h"

class QLabel;

namespace servers_ui {

// ---- fonts ---------------------------------------------------------------------------------
// The text styles of the screens. Sizes are the platform's points, drawn as that many
// device-independent pixels, so the screens keep their proportions on any display.
enum class TextStyle { body, title1, subheadline, caption1, caption2 };
double text_style_points(TextStyle style);
QFont text_style_font(TextStyle style);
QFont system_font(double points);

// ---- colours that follow the appearance ------------------------------------------------------
// Runs `apply` now and again whenever the widget's light or dark appearance changes (including
// when it moves into a window of the other appearance).
void follow_appearance(QWidget* widget, std::function<void(QWidget*)> apply);
// The widget's text colour (window text, text and button text roles), kept resolved.
void bind_text_color(QWidget* widget, const ui::DynamicColor& color);

// A plain view filled with a colour resolved when drawn; none draws nothing (clear).
class ColorView : public QWidget {
public:
    explicit ColorView(QWidget* parent = nullptr);
    void setBackgroundColor(std::optional<ui::DynamicColor> color);
    const std::optional<ui::DynamicColor>& backgroundColor() const { return color_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<ui::DynamicColor> color_;
};

// ---- buttons ---------------------------------------------------------------------------------
enum class ButtonStyle { filled, gray };
enum class ButtonSize { small, medium, large };

struct ButtonConfiguration {
    ButtonStyle style = ButtonStyle::filled;
    ButtonSize size = ButtonSize::medium;
    // Filled: the background (the accent blue when unset); gray: unused.
    std::optional<ui::DynamicColor> baseBackgroundColor;
    // The title colour (white on filled, the accent blue on gray when unset).
    std::optional<ui::DynamicColor> baseForegroundColor;
    std::optional<QFont> titleFont;

    static ButtonConfiguration filled() { return make(ButtonStyle::filled); }
    static ButtonConfiguration gray() { return make(ButtonStyle::gray); }

private:
    static ButtonConfiguration make(ButtonStyle s) {
        ButtonConfiguration c;
        c.style = s;
        return c;
    }
};

// The accent (tint) colour: the platform blue of each appearance.
const ui::DynamicColor& accent_color();
// Styles the button and keeps it styled through appearance changes.
void apply_button_configuration(QPushButton* button, const ButtonConfiguration& configuration);

// ---- segmented control -----------------------------------------------------------------------
// One row of mutually exclusive segments. valueChanged is emitted when the user picks another
// segment (click, the arrow keys while focused, or an assistive technology's press of a
// segment), not when the selection is set in code. The assistive technologies see a tab list
// whose tabs are the segments, the selected one marked as checked.
class SegmentedControl : public QWidget {
    Q_OBJECT
public:
    explicit SegmentedControl(const QStringList& items, QWidget* parent = nullptr);

    int numberOfSegments() const { return static_cast<int>(items_.size()); }
    QString titleForSegment(int index) const;
    int selectedSegmentIndex() const { return selected_; }  // -1: none
    void setSelectedSegmentIndex(int index);
    // The segment under a point of the widget, or -1.
    int segmentAt(const QPoint& point) const;
    QRect segmentRect(int index) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

signals:
    void valueChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    friend class SegmentedControlAccessible;
    friend class SegmentAccessible;
    void choose(int index);
    QStringList items_;
    int selected_ = -1;
};

// ---- activity indicator ------------------------------------------------------------------------
// The spinning wait indicator (large style: 37 by 37 points).
class ActivityIndicatorView : public QWidget {
public:
    explicit ActivityIndicatorView(QWidget* parent = nullptr);

    void startAnimating();
    void stopAnimating();
    bool isAnimating() const { return animating_; }
    // Hidden while stopped (true by default).
    void setHidesWhenStopped(bool hides);
    bool hidesWhenStopped() const { return hidesWhenStopped_; }
    void setColor(const ui::DynamicColor& color);

    QSize sizeHint() const override { return {37, 37}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer timer_;
    int phase_ = 0;
    bool animating_ = false;
    bool hidesWhenStopped_ = true;
    ui::DynamicColor color_;
};

// ---- refresh control ---------------------------------------------------------------------------
// The desktop form of pull-to-refresh: a strip with a spinner and the title, shown while
// refreshing. The owner's refresh action (F5 or the context menu) starts it as a user would
// (beginRefreshingFromUser emits valueChanged); endRefreshing hides it again.
class RefreshControl : public QWidget {
    Q_OBJECT
public:
    explicit RefreshControl(QWidget* parent = nullptr);

    void setAttributedTitle(const QString& title);
    QString attributedTitle() const;
    bool isRefreshing() const { return refreshing_; }
    void beginRefreshing();
    void endRefreshing();
    // What a pull does: begins refreshing and tells the targets.
    void beginRefreshingFromUser();

signals:
    void valueChanged();

private:
    bool refreshing_ = false;
    ActivityIndicatorView* spinner_;
    QLabel* title_;
};

}  // namespace servers_ui
