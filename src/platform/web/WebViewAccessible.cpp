#include "platform/web/WebViewAccessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWebEngineView>
#include <QWidget>

#include <set>

namespace web {
namespace {

// Set while the engine's own interface for a view is being made (see viewFactory).
bool askingEngine = false;

// The interfaces made here, told apart from the engine's without type information (the engine is
// built without it).
std::set<const QAccessibleInterface*>& ours() {
    static std::set<const QAccessibleInterface*> made;
    return made;
}

bool holdsFocus(const QWidget* view) {
    const QWidget* focused = QApplication::focusWidget();
    return view && focused && (focused == view || view->isAncestorOf(focused));
}

// The page's document as the window reads it; everything else is the engine's document's.
class DocumentAccessible final : public QAccessibleInterface {
public:
    DocumentAccessible(QWidget* view, QAccessibleInterface* engineView)
        : view_(view), engineView_(engineView), engineViewId_(QAccessible::uniqueId(engineView)) {}

    // The engine's document of the page shown now (a page that loads another gets a new one).
    QAccessibleInterface* engine() const {
        // The engine's interface for the view lives in Qt's cache, which may let it go first.
        if (!view_ || !engineViewId_ || QAccessible::accessibleInterface(engineViewId_) != engineView_) return nullptr;
        if (!engineView_->isValid()) return nullptr;
        QAccessibleInterface* document = engineView_->child(0);
        return document && document->isValid() ? document : nullptr;
    }

    bool isValid() const override { return view_ && engine(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override {
        return view_ && view_->window() ? view_->window()->windowHandle() : nullptr;
    }
    QList<QPair<QAccessibleInterface*, QAccessible::Relation>> relations(QAccessible::Relation match) const override {
        QAccessibleInterface* e = engine();
        return e ? e->relations(match) : QList<QPair<QAccessibleInterface*, QAccessible::Relation>>{};
    }
    QAccessibleInterface* focusChild() const override {
        if (!holdsFocus(view_)) return nullptr;
        QAccessibleInterface* e = engine();
        QAccessibleInterface* focused = e ? e->focusChild() : nullptr;
        return !focused || focused == e ? const_cast<DocumentAccessible*>(this) : focused;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        QAccessibleInterface* e = engine();
        return e ? e->childAt(x, y) : nullptr;
    }
    QAccessibleInterface* parent() const override { return view_ ? QAccessible::queryAccessibleInterface(view_) : nullptr; }
    QAccessibleInterface* child(int index) const override {
        QAccessibleInterface* e = engine();
        return e ? e->child(index) : nullptr;
    }
    int childCount() const override {
        QAccessibleInterface* e = engine();
        return e ? e->childCount() : 0;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        QAccessibleInterface* e = engine();
        if (!e || !child) return -1;
        for (int i = 0; i < e->childCount(); ++i)
            if (e->child(i) == child) return i;
        return -1;
    }
    QString text(QAccessible::Text t) const override {
        QAccessibleInterface* e = engine();
        QString text = e ? e->text(t) : QString();
        if (t == QAccessible::Name && text.trimmed().isEmpty() && view_) {
            if (QAccessibleInterface* view = QAccessible::queryAccessibleInterface(view_)) return view->text(t);
        }
        return text;
    }
    void setText(QAccessible::Text t, const QString& text) override {
        if (QAccessibleInterface* e = engine()) e->setText(t, text);
    }
    QRect rect() const override {
        QAccessibleInterface* e = engine();
        const QRect r = e ? e->rect() : QRect();
        // Before the engine has laid out its tree, its document has no size: the view's area is the page's.
        if (!r.isEmpty() || !view_) return r;
        return {view_->mapToGlobal(QPoint(0, 0)), view_->size()};
    }
    QAccessible::Role role() const override { return QAccessible::WebDocument; }
    QAccessible::State state() const override {
        QAccessibleInterface* e = engine();
        QAccessible::State s = e ? e->state() : QAccessible::State();
        if (!view_ || !view_->isVisible()) {
            s.invisible = true;
            s.focused = false;
        }
        if (!holdsFocus(view_)) s.focused = false;
        return s;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        QAccessibleInterface* e = engine();
        return e ? e->interface_cast(type) : nullptr;
    }

private:
    QPointer<QWidget> view_;
    QAccessibleInterface* engineView_;
    QAccessible::Id engineViewId_;
};

// The view: Qt's interface for a widget, with the stand-in document as its only child.
class ViewAccessible final : public QAccessibleWidget {
public:
    ViewAccessible(QWidget* view, QAccessibleInterface* engineView)
        : QAccessibleWidget(view, QAccessible::Client), engineView_(engineView),
          engineViewId_(QAccessible::uniqueId(engineView)) {
        document_ = new DocumentAccessible(view, engineView);
        documentId_ = QAccessible::registerAccessibleInterface(document_);
        ours().insert(this);
    }
    ~ViewAccessible() override {
        ours().erase(this);
        if (QAccessible::accessibleInterface(documentId_) == document_) QAccessible::deleteAccessibleInterface(documentId_);
        if (engineViewId_ && QAccessible::accessibleInterface(engineViewId_) == engineView_)
            QAccessible::deleteAccessibleInterface(engineViewId_);
    }

    QAccessibleInterface* document() const { return document_; }

    // A hidden view shows no document: nothing under it is reported.
    bool showsDocument() const { return widget()->isVisible() && document_->isValid(); }
    int childCount() const override { return showsDocument() ? 1 : 0; }
    QAccessibleInterface* child(int index) const override { return index == 0 && showsDocument() ? document_ : nullptr; }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child && child == document_ && showsDocument() ? 0 : -1;
    }
    QAccessibleInterface* focusChild() const override { return document_->focusChild(); }

private:
    QAccessibleInterface* engineView_;
    QAccessible::Id engineViewId_;
    DocumentAccessible* document_ = nullptr;
    QAccessible::Id documentId_ = 0;
};

QAccessibleInterface* viewFactory(const QString&, QObject* object) {
    if (askingEngine) return nullptr;
    auto* view = qobject_cast<QWebEngineView*>(object);
    if (!view || !view->property("dravixDocumentAccessibility").toBool()) return nullptr;
    // The engine's interface for the view knows the page's document; it is made (and kept by the
    // cache) first, then this one takes the view's place in the cache and keeps it as its inner.
    askingEngine = true;
    QAccessibleInterface* engineView = QAccessible::queryAccessibleInterface(view);
    askingEngine = false;
    if (!engineView || ours().count(engineView)) return nullptr;
    return new ViewAccessible(view, engineView);
}

void announceFocus(QWidget* view) {
    if (!QAccessible::isActive()) return;
    QAccessibleInterface* i = QAccessible::queryAccessibleInterface(view);
    if (!i || !ours().count(i)) return;
    QAccessibleInterface* document = static_cast<ViewAccessible*>(i)->document();
    if (!document->isValid()) return;
    QAccessible::State changed;
    changed.focused = true;
    QAccessibleStateChangeEvent event(document, changed);
    QAccessible::updateAccessibility(&event);
}

}  // namespace

void installDocumentAccessibility(QWidget* view) {
    if (!view) return;
    view->setProperty("dravixDocumentAccessibility", true);
    // Factories are asked newest first: this one goes after the engine's, which the first web view made.
    QAccessible::removeFactory(viewFactory);
    QAccessible::installFactory(viewFactory);
    // With an assistive technology listening, the view's interface may have been made while the
    // view itself was (an event of its construction asks for it): that one gives way to this, once
    // the view is whole.
    QPointer<QWidget> weak(view);
    if (QAccessible::isActive()) {
        QTimer::singleShot(0, view, [weak] {
            if (QAccessibleInterface* made = weak ? QAccessible::queryAccessibleInterface(weak) : nullptr;
                made && !ours().count(made)) {
                if (QAccessible::Id id = QAccessible::uniqueId(made)) QAccessible::deleteAccessibleInterface(id);
            }
        });
    }
    QObject::connect(qApp, &QApplication::focusChanged, view, [weak](QWidget* old, QWidget* now) {
        if (!weak) return;
        const bool had = old && (old == weak || weak->isAncestorOf(old));
        const bool has = now && (now == weak || weak->isAncestorOf(now));
        if (had != has) announceFocus(weak);
    });
}

}  // namespace web
