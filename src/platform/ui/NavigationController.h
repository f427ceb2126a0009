#pragma once
// Navigation: a stack of screens under a bar that shows the top screen's title, its bar button
// items and a back button; bar button items send their action to their target, or along the
// responder chain when they have none.
#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

#include "platform/ui/Color.h"
#include "platform/ui/Image.h"
#include "platform/ui/ViewController.h"

class QHBoxLayout;
class QLabel;
class QStackedLayout;
class QToolButton;

namespace ui {

enum class BarButtonSystemItem { done, cancel, edit, save, add, close };
enum class BarButtonItemStyle { plain, done };

class BarButtonItem : public QObject {
    Q_OBJECT
public:
    static std::shared_ptr<BarButtonItem> withTitle(const QString& title, BarButtonItemStyle style, QObject* target,
                                                    const QString& action);
    static std::shared_ptr<BarButtonItem> withImage(const Image& image, BarButtonItemStyle style, QObject* target,
                                                    const QString& action);
    static std::shared_ptr<BarButtonItem> withSystemItem(BarButtonSystemItem item, QObject* target,
                                                         const QString& action);

    QString title() const { return title_; }
    void setTitle(const QString& title);
    const Image& image() const { return image_; }
    void setImage(const Image& image);
    BarButtonItemStyle style() const { return style_; }
    std::optional<BarButtonSystemItem> systemItem() const { return systemItem_; }
    QObject* target() const { return target_; }
    QString action() const { return action_; }
    void setTarget(QObject* target, const QString& action);
    const std::optional<DynamicColor>& tintColor() const { return tint_; }
    void setTintColor(std::optional<DynamicColor> color);
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled);

    // What a click does: the action on the target, or along the chain from `from` when the item
    // has no target. False when nobody took it (or the item has no action).
    bool trigger(QObject* from = nullptr);

signals:
    void changed();

private:
    BarButtonItem() = default;
    QString title_;
    Image image_;
    BarButtonItemStyle style_ = BarButtonItemStyle::plain;
    std::optional<BarButtonSystemItem> systemItem_;
    QPointer<QObject> target_;
    QString action_;
    std::optional<DynamicColor> tint_;
    bool enabled_ = true;
};

using BarButtonItemRef = std::shared_ptr<BarButtonItem>;

// What a screen shows in the bar while it is on top.
class NavigationItem : public QObject {
    Q_OBJECT
public:
    explicit NavigationItem(QObject* parent = nullptr) : QObject(parent) {}

    // Empty: the screen's title.
    QString title() const { return title_; }
    void setTitle(const QString& title);
    const std::vector<BarButtonItemRef>& leftBarButtonItems() const { return left_; }
    void setLeftBarButtonItems(std::vector<BarButtonItemRef> items);
    const std::vector<BarButtonItemRef>& rightBarButtonItems() const { return right_; }
    void setRightBarButtonItems(std::vector<BarButtonItemRef> items);
    void setRightBarButtonItem(BarButtonItemRef item);
    bool hidesBackButton() const { return hidesBackButton_; }
    void setHidesBackButton(bool hides);

signals:
    void changed();

private:
    void watch(const std::vector<BarButtonItemRef>& items);
    QString title_;
    std::vector<BarButtonItemRef> left_, right_;
    bool hidesBackButton_ = false;
};

// The bar's look; unset fields keep the palette's.
struct NavigationBarAppearance {
    std::optional<DynamicColor> backgroundColor;
    std::optional<DynamicColor> titleColor;
};

class NavigationController;

class NavigationBar : public QWidget {
    Q_OBJECT
public:
    explicit NavigationBar(NavigationController* owner, QWidget* parent = nullptr);
    QString titleText() const;
    // The bar's buttons, left to right (the back button first when shown).
    QList<QToolButton*> buttons() const;
    void setAppearance(const NavigationBarAppearance& appearance);
    const NavigationBarAppearance& appearance() const { return appearance_; }
    void rebuild();
    // The controller is going away: the bar no longer asks it anything.
    void detachOwner() { owner_ = nullptr; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QToolButton* makeButton(const BarButtonItemRef& item);
    NavigationController* owner_;
    QHBoxLayout* left_ = nullptr;
    QHBoxLayout* right_ = nullptr;
    QLabel* title_ = nullptr;
    NavigationBarAppearance appearance_;
    std::vector<BarButtonItemRef> shown_;
};

class NavigationController : public ViewController {
    Q_OBJECT
public:
    explicit NavigationController(std::shared_ptr<ViewController> root = nullptr);
    ~NavigationController() override;

    std::vector<std::shared_ptr<ViewController>> viewControllers() const { return childViewControllers(); }
    void setViewControllers(const std::vector<std::shared_ptr<ViewController>>& controllers, bool animated);
    ViewController* topViewController() const;
    void pushViewController(const std::shared_ptr<ViewController>& controller, bool animated);
    std::shared_ptr<ViewController> popViewControllerAnimated(bool animated);
    void popToRootViewControllerAnimated(bool animated);

    bool isNavigationBarHidden() const { return barHidden_; }
    void setNavigationBarHidden(bool hidden, bool animated);
    NavigationBar* navigationBar();

protected:
    void loadView() override;

private:
    void showTop();
    std::shared_ptr<ViewController> pendingRoot_;
    QPointer<NavigationBar> bar_;
    QWidget* content_ = nullptr;
    QStackedLayout* stack_ = nullptr;
    bool barHidden_ = false;
    std::vector<QMetaObject::Connection> watching_;
};

}  // namespace ui
