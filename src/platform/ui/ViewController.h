#pragma once
// View controllers: a screen that builds its root widget in code (loadView / viewDidLoad), hears
// when it appears and disappears, holds child controllers, presents other controllers modally
// (in a window-modal sheet over its window), and hears when its appearance changes between light
// and dark.
//
// Controllers are shared objects: make them with ui::make<T>(...) (which lets a controller see
// its own release while it is still whole, see released()). Weak links are QPointer or weak_ptr.
// A controller's root widget belongs to it and goes with it.
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/ui/Appearance.h"


namespace ui {

class TraitObserver;
class PresentationHost;
class NavigationItem;
class NavigationController;

enum class ModalPresentationStyle { automatic, pageSheet, formSheet, fullScreen };

class ViewController : public QObject, public std::enable_shared_from_this<ViewController> {
    Q_OBJECT
public:
    ViewController();
    ~ViewController() override;
    ViewController(const ViewController&) = delete;
    ViewController& operator=(const ViewController&) = delete;

    // ---- the root widget -------------------------------------------------------------
    QWidget* view();  // loads it first when needed (loadView, then viewDidLoad)
    QWidget* viewIfLoaded() const { return view_; }
    bool isViewLoaded() const { return view_ != nullptr; }
    void loadViewIfNeeded() { (void)view(); }
    // The view is in a shown window (its top-level widget is visible).
    bool isViewInWindow() const;
    // The top-level widget of the view, or nullptr when not loaded.
    QWidget* hostWindow() const;

    QString title() const { return title_; }
    void setTitle(const QString& title);
    // The title of the sheet this controller is presented in (and its name for the assistive
    // technologies): the title.
    virtual QString sheetTitle() const { return title_; }

    // Size a modal presentation asks for; invalid gives the style's default.
    QSize preferredContentSize() const { return preferredContentSize_; }
    void setPreferredContentSize(const QSize& size) { preferredContentSize_ = size; }
    // What this screen shows in a navigation bar (made on first use).
    NavigationItem* navigationItem();
    // The nearest navigation controller among this screen's parents, or nullptr.
    NavigationController* navigationController() const;

    ModalPresentationStyle modalPresentationStyle() const { return modalPresentationStyle_; }
    void setModalPresentationStyle(ModalPresentationStyle style) { modalPresentationStyle_ = style; }

    // ---- appearance ---------------------------------------------------------------------
    TraitCollection traitCollection() const;  // of the view (the application's before it loads)
    bool isAppeared() const { return appeared_; }

    // ---- child controllers -------------------------------------------------------------
    // The parent keeps the child; the caller places the child's view.
    void addChildViewController(const std::shared_ptr<ViewController>& child);
    void removeFromParentViewController();
    const std::vector<std::shared_ptr<ViewController>>& childViewControllers() const { return children_; }
    ViewController* parentViewController() const { return parent_; }

    // ---- modal presentation ------------------------------------------------------------
    // Shows the controller in a window-modal sheet over this screen's window; false (and nothing
    // shown) when this screen already presents one or has no view in a window. The presenter
    // keeps the presented controller until it is dismissed.
    bool presentViewController(const std::shared_ptr<ViewController>& controller, bool animated,
                               std::function<void()> completion = {});
    // Dismisses what this screen presents, or, when it presents nothing, this screen itself when
    // it is presented. The completion runs once the sheet is gone.
    void dismissViewControllerAnimated(bool animated, std::function<void()> completion = {});
    ViewController* presentedViewController() const { return presented_.get(); }
    ViewController* presentingViewController() const { return presenting_; }

    // "<ClassName: 0x...>".
    QString description() const;
    std::shared_ptr<ViewController> sharedFromThis() { return weak_from_this().lock(); }

    // Called by ui::make's deleter just before the controller is destroyed, while it is still
    // whole (virtual calls reach the subclass).
    virtual void released() {}

    // Whether the action may run here (the responder chain asks before it calls an action).
    Q_INVOKABLE virtual bool canPerformAction(const QString& action);

signals:
    // A controller this screen presented has been dismissed (after its completion ran).
    void presentationDidEnd();
    void titleChanged(const QString& title);

protected:
    // Builds the root widget; the default is an empty widget. An override calls setView.
    virtual void loadView();
    void setView(QWidget* view);
    virtual void viewDidLoad() {}
    virtual void viewWillAppear(bool animated) { (void)animated; }
    virtual void viewDidAppear(bool animated) { (void)animated; }
    virtual void viewWillDisappear(bool animated) { (void)animated; }
    virtual void viewDidDisappear(bool animated) { (void)animated; }
    virtual void willMoveToParentViewController(ViewController* parent) { (void)parent; }
    virtual void didMoveToParentViewController(ViewController* parent) { (void)parent; }
    // The view's light or dark appearance (or another trait) changed; `previous` is what it was.
    virtual void traitCollectionDidChange(const std::optional<TraitCollection>& previous) { (void)previous; }

    // The user asked to close the sheet this controller is presented in (Escape or the window's
    // close button). The default dismisses it; alerts choose their cancel action instead.
    virtual void presentationCloseRequested();

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class PresentationHost;
    friend class NavigationController;
    void detachFromHost();
    void dismissPresented(std::function<void()> completion);

    QPointer<QWidget> view_;
    bool loading_ = false;
    QString title_;
    QSize preferredContentSize_;
    ModalPresentationStyle modalPresentationStyle_ = ModalPresentationStyle::automatic;

    ViewController* parent_ = nullptr;
    std::vector<std::shared_ptr<ViewController>> children_;

    std::shared_ptr<ViewController> presented_;
    ViewController* presenting_ = nullptr;
    QPointer<PresentationHost> host_;

    bool appeared_ = false;
    unsigned appearanceGeneration_ = 0;
    TraitObserver* traitObserver_ = nullptr;
    NavigationItem* navigationItem_ = nullptr;
};

// The controller whose root widget this is, if any.
ViewController* viewControllerForView(const QWidget* view);
// The nearest controller that owns the widget or one of its ancestors.
ViewController* enclosingViewController(const QWidget* widget);

// Makes a controller held by a shared pointer whose deleter calls released() first.
template <class T, class... Args>
std::shared_ptr<T> make(Args&&... args) {
    return std::shared_ptr<T>(new T(std::forward<Args>(args)...), [](T* p) {
        p->released();
        delete p;
    });
}

}  // namespace ui
