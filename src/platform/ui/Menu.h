#pragma once
// The main menu: a small model of menus and key commands, the builder through which the
// application delegate edits a window's menu, and the renderer that shows it as the window's
// QMenuBar (Qt on Linux has no application-wide menu bar, so every window gets its own).
//
// Commands carry no target. A chosen command is sent along the responder chain of its window
// (Responder.h); an entry whose action no responder answers is disabled. Before a menu shows, and
// after the keyboard focus moves, each command's target may adjust its title, check mark and
// attributes through an invokable `void validateCommand(ui::Command* command)`.
//
// Keyboard: every menu of the bar and every entry of a menu gets a mnemonic (Alt+letter on the
// bar, the letter inside an open menu), chosen from its title so that no two of one menu share
// one; F10 opens the first menu, and Alt alone moves into the bar. Titles stay plain text in the
// model; the rendered QAction text carries the '&' marker (MenuRenderer::titleOf strips it).
#include <QKeySequence>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>
#include <optional>
#include <variant>

class QAction;
class QMenu;
class QMenuBar;
class QWidget;

namespace ui {

class Window;

// Identifiers of the standard menus every main menu starts with.
namespace MenuIdentifier {
inline constexpr const char* root = "ui.menu.main";
inline constexpr const char* file = "ui.menu.file";
inline constexpr const char* newScene = "ui.menu.newScene";
inline constexpr const char* quit = "ui.menu.quit";
inline constexpr const char* edit = "ui.menu.edit";
inline constexpr const char* undoRedo = "ui.menu.undoRedo";
inline constexpr const char* standardEdit = "ui.menu.standardEdit";
inline constexpr const char* format = "ui.menu.format";
inline constexpr const char* view = "ui.menu.view";
inline constexpr const char* window = "ui.menu.window";
inline constexpr const char* help = "ui.menu.help";
}  // namespace MenuIdentifier

// The selectors of the standard menus' commands. The Edit commands are answered by whatever holds
// the focus (a text field, the editor page); Quit by the application (Application::terminate);
// New Window by the application delegate, when a main menu keeps it.
namespace selector {
inline constexpr const char* requestNewScene = "requestNewScene";
inline constexpr const char* terminate = "terminate";
inline constexpr const char* undo = "undo";
inline constexpr const char* redo = "redo";
inline constexpr const char* cut = "cut";
inline constexpr const char* copy = "copy";
inline constexpr const char* paste = "paste";
inline constexpr const char* selectAll = "selectAll";
}  // namespace selector

// Menu options (raw values of the menu system).
namespace MenuOptions {
inline constexpr int displayInline = 1;
inline constexpr int destructive = 2;
}  // namespace MenuOptions

// Element attributes (raw values).
namespace MenuElementAttributes {
inline constexpr int disabled = 1;
inline constexpr int destructive = 2;
inline constexpr int hidden = 4;
}  // namespace MenuElementAttributes

enum class MenuElementState : int { off = 0, on = 1, mixed = 2 };

// Modifier flags of a key command (raw values); Command is shown and pressed as Ctrl.
namespace KeyModifier {
inline constexpr int shift = 1 << 17;
inline constexpr int control = 1 << 18;
inline constexpr int alternate = 1 << 19;
inline constexpr int command = 1 << 20;
}  // namespace KeyModifier

// One entry: a title, an optional key equivalent and the action it sends.
struct KeyCommand {
    QString title;
    QString input;  // the key ("s", "t"); empty: no key equivalent
    int modifierFlags = 0;
    QString action;  // the selector, e.g. "edm_sw_set:"
    QVariant propertyList;
    int attributes = 0;
    MenuElementState state = MenuElementState::off;

    // Ctrl for Command, plus Shift, Alt and (for Control) Meta; empty without input.
    QKeySequence keySequence() const;
};

struct Menu;
using MenuPtr = std::shared_ptr<Menu>;
using MenuElement = std::variant<KeyCommand, MenuPtr>;

struct Menu {
    QString title;
    QString identifier;
    int options = 0;
    QList<MenuElement> children;

    static MenuPtr make(QString title, QString identifier, int options = 0, QList<MenuElement> children = {});
    bool displaysInline() const { return (options & MenuOptions::displayInline) != 0; }
};

// The main menu a builder starts with: File (the New Scene menu, then Quit, Ctrl+Q), Edit (undo
// and redo, then cut, copy, paste and select all), Format, View, Window and Help.
MenuPtr standardMainMenu();

// A translated title: Qt's translation lookup with the English title as the key.
QString localizedTitle(const char* english);

// The titles (plain text) of one menu's entries, or one dialog's buttons, each with a mnemonic
// marked ('&' before it; a '&' of the title doubled): first a capitalised word's initial, then
// any word's, then any letter or digit, none twice; a title with no free character gets none.
QStringList withMnemonics(const QStringList& titles);

enum class MenuSystem { main, context };

// Hands the application delegate one window's main menu to edit.
class MenuBuilder {
public:
    MenuBuilder(MenuSystem system, Window* window);
    MenuSystem system() const { return system_; }
    Window* window() const { return window_; }

    MenuPtr mainMenu() const { return root_; }
    // The menu with the identifier anywhere in the tree (the root included), or nullptr.
    MenuPtr menuForIdentifier(const QString& identifier) const;
    // Each returns false (and changes nothing) when the identifier names no menu.
    bool removeMenuForIdentifier(const QString& identifier);
    bool insertChildMenuAtStart(const MenuPtr& menu, const QString& parentIdentifier);
    bool insertChildMenuAtEnd(const MenuPtr& menu, const QString& parentIdentifier);
    bool insertSiblingMenuBefore(const MenuPtr& menu, const QString& siblingIdentifier);
    bool insertSiblingMenuAfter(const MenuPtr& menu, const QString& siblingIdentifier);

private:
    bool insertSibling(const MenuPtr& menu, const QString& siblingIdentifier, int offset);
    MenuSystem system_;
    Window* window_;
    MenuPtr root_;
};

// Turns a window's main menu into its menu bar (replacing what the bar held) and keeps the
// commands' enabled flags, titles and check marks current.
class MenuRenderer {
public:
    // The QAction made for a key command carries it in its data (as ui::KeyCommand).
    static void render(const Menu& root, QMenuBar* bar, QWidget* window);
    // Validates every command action of the menu (not of its submenus) against the responder
    // chain that starts at the window's focused widget (the window itself when nothing has
    // focus).
    static void validateMenu(QMenu* menu, QWidget* window);
    // Validates every command of the window's menu bar.
    static void validateMenuBar(QMenuBar* bar, QWidget* window);
    // The command a rendered action carries, if any.
    static std::optional<KeyCommand> commandOf(const QAction* action);
    // The first action with that title in the bar (searched depth first), or nullptr. For tests
    // and diagnostics: the path is the titles of the menus, then the entry's title.
    static QAction* findAction(QMenuBar* bar, const QStringList& path);
    // The start of a window's responder chain: the focused widget, except that while the menu
    // bar holds the keyboard (Alt, F10, or after Escape closed one of its menus) the chain starts
    // where the focus was before, so the screen that had it keeps answering.
    static QObject* chainStart(QWidget* window);
    // An entry's title as shown, without its mnemonic marker.
    static QString titleOf(const QAction* action);
    // Gives each visible entry of the list a mnemonic from its title: first a word's initial,
    // then any letter or digit, none twice; an entry with no free character gets none.
    static void assignMnemonics(const QList<QAction*>& actions);
};

}  // namespace ui

Q_DECLARE_METATYPE(ui::KeyCommand)
