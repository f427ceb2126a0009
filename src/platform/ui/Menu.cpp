#include "platform/ui/Menu.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QHash>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QProxyStyle>
#include <QSet>
#include <QShortcut>
#include <functional>

#include "platform/ui/Responder.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/scenes/Scene.h"
#include "platform/ui/scenes/Window.h"

namespace ui {

namespace {

const char* const kFocusHooked = "_ui_menu_focus_hooked";

// The widget of each window that last had the focus outside the menu bar and its menus.
QHash<const QWidget*, QPointer<QWidget>>& contentFocus() {
    static QHash<const QWidget*, QPointer<QWidget>> map;
    return map;
}

bool isMenuWidget(const QWidget* widget, const QWidget* window) {
    if (!widget) return false;
    if (qobject_cast<const QMenu*>(widget) || qobject_cast<const QMenuBar*>(widget)) return true;
    const auto* main = qobject_cast<const QMainWindow*>(window);
    QWidget* bar = main ? main->menuWidget() : nullptr;
    return bar && bar->isAncestorOf(widget);
}

void rememberFocus(QWidget* window, QWidget* widget) {
    if (!window || !widget || widget->window() != window || isMenuWidget(widget, window)) return;
    auto& map = contentFocus();
    if (!map.contains(window)) {
        QObject::connect(window, &QObject::destroyed, [window] { contentFocus().remove(window); });
    }
    map.insert(window, widget);
}

// The bar takes the keyboard on Alt alone (and keeps it after Escape closed one of its menus),
// whatever the widget style's own habit is.
class MenuBarStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override {
        if (hint == SH_MenuBar_AltKeyNavigation) return 1;
        return QProxyStyle::styleHint(hint, option, widget, data);
    }
};

// Opens the bar's first menu that can open.
void openFirstMenu(QMenuBar* bar) {
    if (!bar) return;
    for (QAction* a : bar->actions()) {
        if (a->menu() && a->isVisible() && a->isEnabled()) {
            bar->setActiveAction(a);
            return;
        }
    }
}

KeyCommand command(QString title, QString input, int modifiers, QString action) {
    KeyCommand c;
    c.title = std::move(title);
    c.input = std::move(input);
    c.modifierFlags = modifiers;
    c.action = std::move(action);
    return c;
}

// The menu holding `identifier` as a direct child, with the child's index; nullptr when none.
MenuPtr parentOf(const MenuPtr& menu, const QString& identifier, int* index) {
    for (int i = 0; i < menu->children.size(); ++i) {
        const auto* child = std::get_if<MenuPtr>(&menu->children[i]);
        if (!child || !*child) continue;
        if ((*child)->identifier == identifier) {
            *index = i;
            return menu;
        }
        if (MenuPtr found = parentOf(*child, identifier, index)) return found;
    }
    return nullptr;
}

MenuPtr find(const MenuPtr& menu, const QString& identifier) {
    if (!menu) return nullptr;
    if (menu->identifier == identifier) return menu;
    for (const auto& element : menu->children) {
        if (const auto* child = std::get_if<MenuPtr>(&element)) {
            if (MenuPtr found = find(*child, identifier)) return found;
        }
    }
    return nullptr;
}

// True when the menu shows at least one command (directly or in a submenu).
bool hasCommands(const Menu& menu) {
    for (const auto& element : menu.children) {
        if (std::holds_alternative<KeyCommand>(element)) return true;
        const auto& child = std::get<MenuPtr>(element);
        if (child && hasCommands(*child)) return true;
    }
    return false;
}

void addSeparatorIfNeeded(QMenu* menu) {
    const auto actions = menu->actions();
    if (!actions.isEmpty() && !actions.last()->isSeparator()) menu->addSeparator();
}

void fill(QMenu* target, const Menu& menu, QWidget* window);

void addCommand(QMenu* target, const KeyCommand& c, QWidget* window) {
    auto* action = target->addAction(c.title);
    action->setData(QVariant::fromValue(c));
    action->setShortcut(c.keySequence());
    action->setEnabled(!(c.attributes & MenuElementAttributes::disabled));
    action->setVisible(!(c.attributes & MenuElementAttributes::hidden));
    if (c.state != MenuElementState::off) {
        action->setCheckable(true);
        action->setChecked(true);
    }
    QPointer<QWidget> weakWindow(window);
    QObject::connect(action, &QAction::triggered, action, [action, weakWindow] {
        const auto model = MenuRenderer::commandOf(action);
        if (!model || !weakWindow) return;
        Command sent;
        sent.action = model->action;
        sent.propertyList = model->propertyList;
        sent.title = MenuRenderer::titleOf(action);
        sent.sender = action;
        sent.state = action->isChecked() ? 1 : 0;
        sent.attributes = model->attributes;
        sendAction(model->action, sent, MenuRenderer::chainStart(weakWindow));
    });
}

void fill(QMenu* target, const Menu& menu, QWidget* window) {
    for (const auto& element : menu.children) {
        if (const auto* c = std::get_if<KeyCommand>(&element)) {
            addCommand(target, *c, window);
            continue;
        }
        const MenuPtr& child = std::get<MenuPtr>(element);
        if (!child || !hasCommands(*child)) continue;
        if (child->displaysInline()) {
            addSeparatorIfNeeded(target);
            fill(target, *child, window);
            addSeparatorIfNeeded(target);
        } else {
            QMenu* sub = target->addMenu(child->title);
            sub->menuAction()->setObjectName(child->identifier);
            fill(sub, *child, window);
            MenuRenderer::assignMnemonics(sub->actions());
            QPointer<QWidget> weakWindow(window);
            QObject::connect(sub, &QMenu::aboutToShow, sub, [sub, weakWindow] {
                if (weakWindow) MenuRenderer::validateMenu(sub, weakWindow);
            });
        }
    }
    // No separator at the end.
    const auto actions = target->actions();
    if (!actions.isEmpty() && actions.last()->isSeparator()) target->removeAction(actions.last());
}

QAction* findIn(const QList<QAction*>& actions, const QStringList& path) {
    if (path.isEmpty()) return nullptr;
    for (QAction* a : actions) {
        if (a->isSeparator() || MenuRenderer::titleOf(a) != path.first()) continue;
        if (path.size() == 1) return a;
        if (QMenu* sub = a->menu()) {
            if (QAction* found = findIn(sub->actions(), path.mid(1))) return found;
        }
    }
    // Inline groups have no title of their own: nothing more to search.
    return nullptr;
}

}  // namespace

QKeySequence KeyCommand::keySequence() const {
    if (input.isEmpty()) return {};
    QString text;
    if (modifierFlags & KeyModifier::control) text += QStringLiteral("Meta+");
    if (modifierFlags & KeyModifier::command) text += QStringLiteral("Ctrl+");
    if (modifierFlags & KeyModifier::alternate) text += QStringLiteral("Alt+");
    if (modifierFlags & KeyModifier::shift) text += QStringLiteral("Shift+");
    text += input.toUpper();
    return QKeySequence(text, QKeySequence::PortableText);
}

MenuPtr Menu::make(QString title, QString identifier, int options, QList<MenuElement> children) {
    auto menu = std::make_shared<Menu>();
    menu->title = std::move(title);
    menu->identifier = std::move(identifier);
    menu->options = options;
    menu->children = std::move(children);
    return menu;
}

QString localizedTitle(const char* english) { return QCoreApplication::translate("Menu", english); }

MenuPtr standardMainMenu() {
    namespace id = MenuIdentifier;
    const int cmd = KeyModifier::command;
    const int shift = KeyModifier::shift;
    MenuPtr newSceneMenu =
        Menu::make(localizedTitle("New Scene"), id::newScene, MenuOptions::displayInline,
                   {command(localizedTitle("New Window"), {}, 0, QString::fromLatin1(selector::requestNewScene))});
    MenuPtr quitGroup = Menu::make({}, id::quit, MenuOptions::displayInline,
                                   {command(localizedTitle("Quit"), QStringLiteral("q"), cmd, QString::fromLatin1(selector::terminate))});
    MenuPtr undoGroup =
        Menu::make({}, id::undoRedo, MenuOptions::displayInline,
                   {command(localizedTitle("Undo"), QStringLiteral("z"), cmd, QString::fromLatin1(selector::undo)),
                    command(localizedTitle("Redo"), QStringLiteral("z"), cmd | shift, QString::fromLatin1(selector::redo))});
    MenuPtr editGroup =
        Menu::make({}, id::standardEdit, MenuOptions::displayInline,
                   {command(localizedTitle("Cut"), QStringLiteral("x"), cmd, QString::fromLatin1(selector::cut)),
                    command(localizedTitle("Copy"), QStringLiteral("c"), cmd, QString::fromLatin1(selector::copy)),
                    command(localizedTitle("Paste"), QStringLiteral("v"), cmd, QString::fromLatin1(selector::paste)),
                    command(localizedTitle("Select All"), QStringLiteral("a"), cmd, QString::fromLatin1(selector::selectAll))});
    QList<MenuElement> top;
    top << MenuElement(Menu::make(localizedTitle("File"), id::file, 0, {newSceneMenu, quitGroup}))
        << MenuElement(Menu::make(localizedTitle("Edit"), id::edit, 0, {undoGroup, editGroup}))
        << MenuElement(Menu::make(localizedTitle("Format"), id::format))
        << MenuElement(Menu::make(localizedTitle("View"), id::view))
        << MenuElement(Menu::make(localizedTitle("Window"), id::window))
        << MenuElement(Menu::make(localizedTitle("Help"), id::help));
    return Menu::make({}, id::root, 0, std::move(top));
}

// ---- MenuBuilder ----------------------------------------------------------------------------------

MenuBuilder::MenuBuilder(MenuSystem system, Window* window)
    : system_(system), window_(window), root_(standardMainMenu()) {}

MenuPtr MenuBuilder::menuForIdentifier(const QString& identifier) const { return find(root_, identifier); }

bool MenuBuilder::removeMenuForIdentifier(const QString& identifier) {
    int index = -1;
    MenuPtr parent = parentOf(root_, identifier, &index);
    if (!parent) return false;
    parent->children.removeAt(index);
    return true;
}

bool MenuBuilder::insertChildMenuAtStart(const MenuPtr& menu, const QString& parentIdentifier) {
    MenuPtr parent = find(root_, parentIdentifier);
    if (!parent || !menu) return false;
    parent->children.prepend(menu);
    return true;
}

bool MenuBuilder::insertChildMenuAtEnd(const MenuPtr& menu, const QString& parentIdentifier) {
    MenuPtr parent = find(root_, parentIdentifier);
    if (!parent || !menu) return false;
    // The application's own entries stand before the standard closing group of File (Quit).
    int at = static_cast<int>(parent->children.size());
    if (parent->identifier == QLatin1String(MenuIdentifier::file)) {
        for (int i = 0; i < parent->children.size(); ++i) {
            const auto* child = std::get_if<MenuPtr>(&parent->children[i]);
            if (child && *child && (*child)->identifier == QLatin1String(MenuIdentifier::quit)) at = i;
        }
    }
    parent->children.insert(at, menu);
    return true;
}

bool MenuBuilder::insertSibling(const MenuPtr& menu, const QString& siblingIdentifier, int offset) {
    int index = -1;
    MenuPtr parent = parentOf(root_, siblingIdentifier, &index);
    if (!parent || !menu) return false;
    parent->children.insert(index + offset, menu);
    return true;
}

bool MenuBuilder::insertSiblingMenuBefore(const MenuPtr& menu, const QString& siblingIdentifier) {
    return insertSibling(menu, siblingIdentifier, 0);
}

bool MenuBuilder::insertSiblingMenuAfter(const MenuPtr& menu, const QString& siblingIdentifier) {
    return insertSibling(menu, siblingIdentifier, 1);
}

// ---- MenuRenderer ---------------------------------------------------------------------------------

QObject* MenuRenderer::chainStart(QWidget* window) {
    if (!window) return firstResponder();
    QWidget* focus = window->focusWidget();
    if (isMenuWidget(focus, window)) {
        const QPointer<QWidget> before = contentFocus().value(window);
        focus = before && before->window() == window && before->isVisible() ? before.data() : nullptr;
    }
    if (focus) return focus;
    if (auto* w = qobject_cast<Window*>(window)) {
        if (ViewController* root = w->rootViewController()) {
            if (QWidget* view = root->viewIfLoaded()) return view;
            return root;
        }
    }
    return window;
}

std::optional<KeyCommand> MenuRenderer::commandOf(const QAction* action) {
    if (!action || !action->data().canConvert<KeyCommand>()) return std::nullopt;
    if (action->data().metaType() != QMetaType::fromType<KeyCommand>()) return std::nullopt;
    return action->data().value<KeyCommand>();
}

void MenuRenderer::validateMenu(QMenu* menu, QWidget* window) {
    if (!menu) return;
    QObject* start = chainStart(window);
    for (QAction* action : menu->actions()) {
        const auto model = commandOf(action);
        if (!model) continue;
        QObject* target = targetForAction(model->action, start);
        Command c;
        c.action = model->action;
        c.propertyList = model->propertyList;
        c.title = model->title;
        c.sender = action;
        c.state = static_cast<int>(model->state);
        c.attributes = model->attributes;
        if (target) {
            validateCommand(target, c);
        } else if (const auto chain = responderChain(start); !chain.isEmpty()) {
            // Nobody takes the command now (no editor has the focus): the end of the chain (the
            // application's delegate) still tells how it reads, so a toggle's title shows the
            // stored setting; the entry stays disabled.
            validateCommand(chain.last(), c);
        }
        action->setText(c.title);
        action->setEnabled(target && !(c.attributes & MenuElementAttributes::disabled));
        action->setVisible(!(c.attributes & MenuElementAttributes::hidden));
        action->setCheckable(c.state != 0);
        action->setChecked(c.state != 0);
    }
    assignMnemonics(menu->actions());
}

QString MenuRenderer::titleOf(const QAction* action) {
    if (!action) return {};
    const QString text = action->text();
    QString plain;
    plain.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&')) {
            if (i + 1 < text.size() && text[i + 1] == QLatin1Char('&')) plain += text[++i];
            continue;
        }
        plain += text[i];
    }
    return plain;
}

QStringList withMnemonics(const QStringList& titles) {
    QSet<QChar> used;
    QStringList out;
    out.reserve(titles.size());
    for (const QString& plain : titles) {
        auto isFree = [&](qsizetype i) { return plain[i].isLetterOrNumber() && !used.contains(plain[i].toUpper()); };
        auto wordStart = [&](qsizetype i) { return i == 0 || !plain[i - 1].isLetterOrNumber(); };
        // A capitalised word's initial first ("Find and &Replace..."), then any word's, then any.
        const std::function<bool(qsizetype)> passes[] = {
            [&](qsizetype i) { return wordStart(i) && plain[i].isUpper(); },
            [&](qsizetype i) { return wordStart(i); },
            [](qsizetype) { return true; },
        };
        qsizetype at = -1;
        for (const auto& pass : passes) {
            for (qsizetype i = 0; i < plain.size() && at < 0; ++i)
                if (isFree(i) && pass(i)) at = i;
            if (at >= 0) break;
        }
        QString text;
        for (qsizetype i = 0; i < plain.size(); ++i) {
            if (i == at) text += QLatin1Char('&');
            text += plain[i];
            if (plain[i] == QLatin1Char('&')) text += QLatin1Char('&');
        }
        if (at >= 0) used.insert(plain[at].toUpper());
        out << text;
    }
    return out;
}

void MenuRenderer::assignMnemonics(const QList<QAction*>& actions) {
    QList<QAction*> shown;
    QStringList titles;
    for (QAction* a : actions) {
        if (a->isSeparator() || !a->isVisible()) continue;
        shown << a;
        titles << titleOf(a);
    }
    const QStringList marked = withMnemonics(titles);
    for (qsizetype i = 0; i < shown.size(); ++i)
        if (shown[i]->text() != marked[i]) shown[i]->setText(marked[i]);
}

void MenuRenderer::validateMenuBar(QMenuBar* bar, QWidget* window) {
    if (!bar) return;
    // The bar's own menus and their submenus only: the bar's overflow menu (of the menus that do
    // not fit a narrow window) holds top menus too, and its letters are the bar's.
    const auto menus = bar->findChildren<QMenu*>();
    for (QMenu* m : menus) {
        if (bar->actions().contains(m->menuAction()) || qobject_cast<QMenu*>(m->parentWidget()))
            validateMenu(m, window);
    }
}

void MenuRenderer::render(const Menu& root, QMenuBar* bar, QWidget* window) {
    if (!bar) return;
    // The previous menus go with their actions.
    for (QMenu* old : bar->findChildren<QMenu*>(Qt::FindDirectChildrenOnly)) {
        bar->removeAction(old->menuAction());
        old->deleteLater();
    }
    bar->clear();
    for (const auto& element : root.children) {
        const auto* top = std::get_if<MenuPtr>(&element);
        if (!top || !*top || !hasCommands(**top)) continue;
        QMenu* menu = new QMenu((*top)->title, bar);
        menu->menuAction()->setObjectName((*top)->identifier);
        bar->addMenu(menu);
        fill(menu, **top, window);
        assignMnemonics(menu->actions());
        QPointer<QWidget> weakWindow(window);
        QObject::connect(menu, &QMenu::aboutToShow, menu, [menu, weakWindow] {
            if (weakWindow) MenuRenderer::validateMenu(menu, weakWindow);
        });
    }
    assignMnemonics(bar->actions());
    if (!bar->property(kFocusHooked).toBool()) {
        bar->setProperty(kFocusHooked, true);
        QPointer<QWidget> weakWindow(window);
        QPointer<QMenuBar> weakBar(bar);
        if (window) rememberFocus(window, window->focusWidget());
        QObject::connect(qApp, &QApplication::focusChanged, bar, [weakWindow, weakBar](QWidget* old, QWidget* now) {
            if (!weakWindow || !weakBar) return;
            // The bar taking the keyboard leaves the chain where it was.
            rememberFocus(weakWindow, old);
            rememberFocus(weakWindow, now);
            if (!now || now->window() != weakWindow) return;
            validateMenuBar(weakBar, weakWindow);
        });
        auto* style = new MenuBarStyle;
        style->setParent(bar);
        bar->setStyle(style);
        if (window) {
            auto* f10 = new QShortcut(QKeySequence(Qt::Key_F10), window);
            f10->setObjectName(QStringLiteral("ui_menu_bar_f10"));
            f10->setContext(Qt::WindowShortcut);
            QObject::connect(f10, &QShortcut::activated, bar, [weakBar] { openFirstMenu(weakBar); });
        }
    }
    validateMenuBar(bar, window);
}

QAction* MenuRenderer::findAction(QMenuBar* bar, const QStringList& path) {
    return bar ? findIn(bar->actions(), path) : nullptr;
}

}  // namespace ui
