#include "platform/ui/ViewController.h"

#include <QCoreApplication>

#include <QCloseEvent>
#include <QDialog>
#include <QEvent>
#include <QKeyEvent>
#include <QLoggingCategory>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>

#include "platform/ui/NavigationController.h"
#include "platform/ui/Responder.h"

Q_LOGGING_CATEGORY(lcViewController, "dravix.ui.viewcontroller")

namespace ui {

namespace {
const char* kControllerProperty = "ui_view_controller";
}

// The window-modal sheet a presented controller is shown in. It stays above its window: the
// window system keeps it there as the window's transient, and when the window it blocks comes to
// the front (a click on it, or the app bringing it forward to ask its question), the sheet comes
// along above it, so the question is never hidden behind the window it blocks (a sheet over a
// sheet follows the same way). Which window is the active one stays the window system's choice.
class PresentationHost : public QDialog {
public:
    PresentationHost(QWidget* parentWindow, ViewController* presented)
        : QDialog(parentWindow), presented_(presented), blocked_(parentWindow) {
        setAttribute(Qt::WA_WindowPropagation);  // the sheet takes its window's appearance
        setWindowModality(Qt::WindowModal);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        if (parentWindow) parentWindow->installEventFilter(this);
    }

    void place(QWidget* view) { static_cast<QVBoxLayout*>(layout())->addWidget(view); }

    // Closing from code, not by the user.
    void finish() {
        finishing_ = true;
        hide();
        deleteLater();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == blocked_ && event->type() == QEvent::WindowActivate && isVisible() && !finishing_) {
            QPointer<PresentationHost> self(this);
            // After the window's own activation is done.
            QTimer::singleShot(0, this, [self] {
                if (!self || !self->isVisible() || self->finishing_) return;
                self->raise();
            });
        }
        return QDialog::eventFilter(watched, event);
    }
    void reject() override { requestClose(); }
    void closeEvent(QCloseEvent* event) override {
        if (finishing_) {
            event->accept();
            return;
        }
        event->ignore();
        requestClose();
    }

private:
    void requestClose() {
        if (finishing_ || !presented_) return;
        // Let the controller decide after the key or close event is done.
        QPointer<ViewController> target(presented_.data());
        QTimer::singleShot(0, this, [target] {
            if (target) target->presentationCloseRequested();
        });
    }

    QPointer<ViewController> presented_;
    QPointer<QWidget> blocked_;
    bool finishing_ = false;
};

ViewController::ViewController() = default;

ViewController::~ViewController() {
    // Children and presented controllers let go of this one first.
    if (presented_) {
        presented_->presenting_ = nullptr;
        presented_->detachFromHost();
        presented_.reset();
    }
    for (auto& child : children_) child->parent_ = nullptr;
    children_.clear();
    // A controller released after the application object is gone (a last reference held by a
    // static, at exit) must not touch widgets or post events: Qt's event machinery is torn down
    // and a post would wait forever on its lock.
    if (!QCoreApplication::instance()) return;
    if (host_) host_->finish();
    if (view_) {
        view_->removeEventFilter(this);
        view_->setProperty(kControllerProperty, QVariant());
        delete traitObserver_;
        traitObserver_ = nullptr;
        // The widget may be in the middle of delivering an event (a button of this screen was
        // pressed): take it out of sight now and delete it on the next turn.
        view_->hide();
        view_->setParent(nullptr);
        view_->deleteLater();
    }
}

QWidget* ViewController::view() {
    if (!view_ && !loading_) {
        loading_ = true;
        loadView();
        if (!view_) setView(new QWidget);
        loading_ = false;
        viewDidLoad();
    }
    return view_;
}

void ViewController::loadView() { setView(new QWidget); }

void ViewController::setView(QWidget* view) {
    if (view_ == view) return;
    if (view_) {
        view_->removeEventFilter(this);
        view_->setProperty(kControllerProperty, QVariant());
    }
    if (traitObserver_) {
        delete traitObserver_;
        traitObserver_ = nullptr;
    }
    view_ = view;
    appeared_ = false;
    if (!view) return;
    view->setProperty(kControllerProperty, QVariant::fromValue<QObject*>(this));
    view->installEventFilter(this);
    QPointer<ViewController> self(this);
    traitObserver_ = new TraitObserver(view, [self](const TraitCollection& previous, const TraitCollection&) {
        if (self) self->traitCollectionDidChange(previous);
    });
    // A view that is dropped by whoever holds it leaves this controller without one.
    connect(view, &QObject::destroyed, this, [this] {
        traitObserver_ = nullptr;
        appeared_ = false;
    });
}

bool ViewController::isViewInWindow() const {
    if (!view_) return false;
    QWidget* top = view_->window();
    return top && top->isVisible();
}

QWidget* ViewController::hostWindow() const { return view_ ? view_->window() : nullptr; }

void ViewController::setTitle(const QString& title) {
    if (title_ == title) return;
    title_ = title;
    if (host_) host_->setWindowTitle(sheetTitle());
    emit titleChanged(title);
}

NavigationItem* ViewController::navigationItem() {
    if (!navigationItem_) navigationItem_ = new NavigationItem(this);
    return navigationItem_;
}

NavigationController* ViewController::navigationController() const {
    for (ViewController* p = parent_; p; p = p->parent_) {
        if (auto* nav = qobject_cast<NavigationController*>(p)) return nav;
    }
    return nullptr;
}

TraitCollection ViewController::traitCollection() const {
    return view_ ? traitCollectionOf(view_) : currentTraitCollection();
}

bool ViewController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view_) {
        if (event->type() == QEvent::Show && !appeared_) {
            appeared_ = true;
            const unsigned generation = ++appearanceGeneration_;
            viewWillAppear(false);
            QPointer<ViewController> self(this);
            QTimer::singleShot(0, this, [self, generation] {
                if (self && self->appeared_ && self->appearanceGeneration_ == generation) self->viewDidAppear(false);
            });
        } else if (event->type() == QEvent::Hide && appeared_) {
            appeared_ = false;
            const unsigned generation = ++appearanceGeneration_;
            viewWillDisappear(false);
            QPointer<ViewController> self(this);
            QTimer::singleShot(0, this, [self, generation] {
                if (self && !self->appeared_ && self->appearanceGeneration_ == generation)
                    self->viewDidDisappear(false);
            });
        }
    }
    return QObject::eventFilter(watched, event);
}

void ViewController::addChildViewController(const std::shared_ptr<ViewController>& child) {
    if (!child || child.get() == this) return;
    if (child->parent_ == this) return;
    if (child->parent_) child->removeFromParentViewController();
    child->willMoveToParentViewController(this);
    children_.push_back(child);
    child->parent_ = this;
}

void ViewController::removeFromParentViewController() {
    ViewController* parent = parent_;
    if (!parent) return;
    auto keep = sharedFromThis();  // the parent may hold the last reference
    auto& list = parent->children_;
    auto it = std::find_if(list.begin(), list.end(), [this](const auto& c) { return c.get() == this; });
    std::shared_ptr<ViewController> held;
    if (it != list.end()) {
        held = *it;
        list.erase(it);
    }
    parent_ = nullptr;
    didMoveToParentViewController(nullptr);
}

bool ViewController::presentViewController(const std::shared_ptr<ViewController>& controller, bool animated,
                                           std::function<void()> completion) {
    (void)animated;
    if (!controller || controller.get() == this) return false;
    if (presented_) {
        qCWarning(lcViewController) << description() << "already presents" << presented_->description()
                                    << "; cannot present" << controller->description();
        return false;
    }
    if (controller->presenting_ || controller->parent_) {
        qCWarning(lcViewController) << controller->description() << "is already shown elsewhere";
        return false;
    }
    if (!isViewInWindow()) {
        qCWarning(lcViewController) << description() << "is not in a window; cannot present"
                                    << controller->description();
        return false;
    }
    QWidget* window = view_->window();
    auto* host = new PresentationHost(window, controller.get());
    QWidget* presentedView = controller->view();
    // After the view loaded: a screen may name itself as it builds its view.
    host->setWindowTitle(controller->sheetTitle());
    host->place(presentedView);
    presentedView->show();

    QSize size = controller->preferredContentSize();
    if (!size.isValid()) {
        const QSize base = window->size();
        switch (controller->modalPresentationStyle()) {
            case ModalPresentationStyle::fullScreen: size = base; break;
            case ModalPresentationStyle::formSheet: size = QSize(540, 620); break;
            case ModalPresentationStyle::automatic:
            case ModalPresentationStyle::pageSheet:
                size = QSize(std::max(320, base.width() * 4 / 5), std::max(320, base.height() * 4 / 5));
                break;
        }
    }
    if (size.isValid() && !size.isEmpty()) host->resize(size.expandedTo(host->minimumSizeHint()));

    presented_ = controller;
    controller->presenting_ = this;
    controller->host_ = host;
    setNextResponder(host, this);  // the sheet hands commands on to its presenter
    host->show();
    host->raise();
    host->activateWindow();
    if (completion) completion();
    return true;
}

void ViewController::detachFromHost() {
    if (presented_) {  // what this one presents goes first
        presented_->presenting_ = nullptr;
        presented_->detachFromHost();
        presented_.reset();
    }
    if (view_ && host_ && view_->parentWidget() == host_) {
        view_->hide();
        view_->setParent(nullptr);
    }
    if (host_) host_->finish();
    host_ = nullptr;
}

void ViewController::dismissPresented(std::function<void()> completion) {
    if (!presented_) {
        if (completion) completion();
        return;
    }
    auto keepSelf = sharedFromThis();
    std::shared_ptr<ViewController> presented = presented_;  // alive until the end of this call
    presented->detachFromHost();
    presented->presenting_ = nullptr;
    presented_.reset();
    if (completion) completion();
    emit presentationDidEnd();
}

void ViewController::dismissViewControllerAnimated(bool animated, std::function<void()> completion) {
    (void)animated;
    if (presented_) {
        dismissPresented(std::move(completion));
        return;
    }
    if (presenting_) {
        presenting_->dismissPresented(std::move(completion));
        return;
    }
    if (completion) completion();
}

void ViewController::presentationCloseRequested() { dismissViewControllerAnimated(true); }

bool ViewController::canPerformAction(const QString& action) {
    (void)action;
    return true;
}

QString ViewController::description() const {
    return QStringLiteral("<%1: 0x%2>")
        .arg(QString::fromLatin1(metaObject()->className()))
        .arg(reinterpret_cast<quintptr>(this), 0, 16);
}

ViewController* viewControllerForView(const QWidget* view) {
    if (!view) return nullptr;
    return qobject_cast<ViewController*>(view->property(kControllerProperty).value<QObject*>());
}

ViewController* enclosingViewController(const QWidget* widget) {
    for (const QWidget* w = widget; w; w = w->parentWidget()) {
        if (ViewController* vc = viewControllerForView(w)) return vc;
    }
    return nullptr;
}

}  // namespace ui
