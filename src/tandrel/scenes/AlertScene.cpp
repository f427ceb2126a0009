#include "tandrel/scenes/AlertScene.h"

#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <QPushButton>
#include <QRegularExpression>
#include <QKeyEvent>
#include <QUuid>
#include <QWidget>
#include <algorithm>
#include <utility>

#include "dynamic/Dynamic.h"
#include "platform/ui/Layout.h"
#include "platform/ui/Responder.h"
#include "platform/ui/scenes/Application.h"
#include "platform/ui/scenes/SceneSession.h"
#include "platform/ui/scenes/UserActivity.h"
#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/foundation/AppGlobals.h"
#include "tandrel/foundation/EnumManager.h"
#include "tandrel/scenes/SceneKind.h"

namespace {

// A label of any number of lines whose height follows its width, and whose font shrinks when a
// single word would not fit the width.
class FittingLabel : public QLabel {
public:
    FittingLabel() {
        setWordWrap(true);
        setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    }

    void setBaseFont(const QFont& font) {
        base_ = font;
        fit();
    }

    QSize sizeHint() const override {
        const int w = width() > 0 ? width() : QLabel::sizeHint().width();
        return {QLabel::sizeHint().width(), heightForWidth(w)};
    }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        const int oldHeight = height();
        fit();
        // The height depends on the width: let the container place the views again.
        if (parentWidget() && heightForWidth(width()) != oldHeight) ui::setNeedsLayout(parentWidget());
    }
    void changeEvent(QEvent* event) override {
        QLabel::changeEvent(event);
        if (event->type() == QEvent::FontChange && !fitting_) fit();
    }

private:
    void fit() {
        if (width() <= 0) return;
        fitting_ = true;
        QFont f = base_;
        const QStringList words = text().split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
        for (int size = base_.pixelSize() > 0 ? base_.pixelSize() : 13; size > 5; --size) {
            f.setPixelSize(size);
            QFontMetrics fm(f);
            int widest = 0;
            for (const QString& w : words) widest = std::max(widest, fm.horizontalAdvance(w));
            if (widest <= width()) break;
        }
        setFont(f);
        fitting_ = false;
    }

    QFont base_;
    bool fitting_ = false;
};

// The desktop window system through the class registry: the host window of a platform window is
// sharedApplication.delegate.hostWindowForUIWindow(window).attachedWindow, and its values are
// read and written as its members.
class RegisteredDesktopWindow : public DesktopWindowObject {
public:
    explicit RegisteredDesktopWindow(dynamic::Dynamic window) : window_(std::move(window)) {}
    std::optional<uint64_t> unsigned_value_for_key(const std::string& key) const override {
        return window_.member<qulonglong>(QString::fromStdString(key));
    }
    void set_unsigned_value_for_key(const std::string& key, uint64_t value) override {
        window_.set(QString::fromStdString(key), QVariant(static_cast<qulonglong>(value)));
    }

private:
    dynamic::Dynamic window_;
};

class RegisteredDesktop : public DesktopWindowSystem {
public:
    explicit RegisteredDesktop(QString className) : className_(std::move(className)) {}
    std::shared_ptr<DesktopWindowObject> host_window_for(QWidget* window) override {
        using dynamic::Dynamic;
        QObject* attached = Dynamic::className(className_)[QStringLiteral("sharedApplication")]
            [QStringLiteral("delegate")][QStringLiteral("hostWindowForUIWindow")](
                {{QString(), QVariant::fromValue<QObject*>(window)}})[QStringLiteral("attachedWindow")]
                                .asQObject();
        if (!attached) return nullptr;
        return std::make_shared<RegisteredDesktopWindow>(Dynamic(QVariant::fromValue(attached)));
    }

private:
    QString className_;
};

std::shared_ptr<DesktopWindowSystem> registeredDesktop(const std::string& className) {
    const QString name = QString::fromStdString(className);
    if (!dynamic::Dynamic::className(name).object()) return nullptr;  // not registered: no desktop
    return std::make_shared<RegisteredDesktop>(name);
}

AlertViewController::DesktopLookup& desktopLookup() {
    static AlertViewController::DesktopLookup lookup = registeredDesktop;
    return lookup;
}

// System fill colours of the light and dark appearances.
QColor systemFill(bool dark) { return dark ? QColor(120, 120, 128, 92) : QColor(120, 120, 128, 51); }
QColor secondarySystemFill(bool dark) { return dark ? QColor(120, 120, 128, 82) : QColor(120, 120, 128, 41); }

ui::InterfaceStyle styleForMode(int mode) { return ui::styleForModeAppearance(mode); }

}  // namespace

// ---- AlertScene ----------------------------------------------------------------------------

AlertScene::AlertScene(ui::SceneSession* session) : ui::Scene(session) {}

AlertScene::~AlertScene() { AMZLogger::shared().log_verbose("deinit AlertScene"); }

void AlertScene::set_my_next(QObject* next) {
    my_next = next;
    setNextResponderOverride(next);
}

// ---- AlertSceneDelegate --------------------------------------------------------------------

AlertSceneDelegate::AlertSceneDelegate()
    : guid(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString()) {}

void AlertSceneDelegate::willConnectToSession(ui::Scene* scene, ui::SceneSession*, const ui::ConnectionOptions& options) {
    setup_alert_window(scene, options);
}

void AlertSceneDelegate::sceneDidDisconnect(ui::Scene*) {}

void AlertSceneDelegate::setup_alert_window(ui::Scene* scene, const ui::ConnectionOptions& options) {
    std::string title, message;
    if (!options.userActivities.isEmpty() && options.userActivities.first().userInfo()) {
        const QVariantMap& info = *options.userActivities.first().userInfo();
        title = ui::UserActivity::stringValue(info, scene_user_info::title).value_or(QString()).toStdString();
        message = ui::UserActivity::stringValue(info, scene_user_info::message).value_or(QString()).toStdString();
    }
    if (!scene) return;

    auto* window = new AlertSceneWindow(scene);
    auto alert = ui::make<AlertViewController>();
    alert->alertTitle = title;
    alert->alertMessage = message;

    window->setOverrideUserInterfaceStyle(styleForMode(EnumManager::read_mode_appearance()));
    // Read by its title (by its message when it has none), as the sheet alerts are.
    window->setAccessibleName(QString::fromStdString(title.empty() ? message : title));
    window->setRootViewController(alert);
    setWindow(window);

    if (auto* limits = scene->sizeRestrictions()) {
        limits->setMinimumSize(QSize(320, 250));
        limits->setMaximumSize(QSize(320, 250));
    }
    window->resize(320, 250);
    window->makeKeyAndVisible();
}

namespace {

// Escape, Return and Enter press the button they reach.
class OneButtonKeys : public QObject {
public:
    explicit OneButtonKeys(QPushButton* button) : QObject(button), button_(button) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != button_ || event->type() != QEvent::KeyPress) return false;
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key != Qt::Key_Escape && key != Qt::Key_Return && key != Qt::Key_Enter) return false;
        button_->click();
        return true;
    }

private:
    QPushButton* button_;
};

}  // namespace

// ---- AlertViewController -------------------------------------------------------------------

AlertViewController::AlertViewController()
    : alertyTitleLbl(new FittingLabel), alertyMessageLbl(new FittingLabel), alertyIcon(new QLabel),
      alertyCloseBtn(new QPushButton) {}

AlertViewController::~AlertViewController() {
    // Views never placed in the root view belong to the screen alone.
    for (QWidget* w : std::initializer_list<QWidget*>{alertyTitleLbl, alertyMessageLbl, alertyIcon, alertyCloseBtn}) {
        if (w && !w->parentWidget()) delete w;
    }
}

void AlertViewController::set_desktop_lookup(DesktopLookup lookup) {
    desktopLookup() = lookup ? std::move(lookup) : AlertViewController::DesktopLookup(registeredDesktop);
}

void AlertViewController::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    setup_alert_view();
}

void AlertViewController::viewDidAppear(bool animated) {
    ui::ViewController::viewDidAppear(animated);
    // Shown: the focus starts on the one button.
    if (alertyCloseBtn && alertyCloseBtn->isVisible()) alertyCloseBtn->setFocus(Qt::OtherFocusReason);
    applyCatalystWindowStyle();
}

void AlertViewController::setup_alert_view() {
    QWidget* root = view();
    const ui::LayoutItem safe = ui::safeAreaLayoutGuide(root);
    using ui::Attribute;
    using ui::Relation;
    auto pin = [](QWidget* v) { ui::setTranslatesAutoresizingMaskIntoConstraints(v, false); };

    // Icon: the app's alert picture when the resources carry one.
    if (auto path = app_resource("AlertWindowAppIcon.png")) {
        alertyIcon->setPixmap(QPixmap(QString::fromStdString(path->string())));
    } else if (auto svg = app_resource("AlertWindowAppIcon.svg")) {
        QSvgRenderer renderer(QString::fromStdString(svg->string()));
        if (renderer.isValid()) {
            QPixmap pixmap(140, 160);  // twice the shown size, sharp when scaled down
            pixmap.fill(Qt::transparent);
            QPainter painter(&pixmap);
            renderer.render(&painter);
            painter.end();
            alertyIcon->setPixmap(pixmap);
        }
    }
    alertyIcon->setScaledContents(true);
    alertyIcon->setParent(root);
    pin(alertyIcon);
    ui::activate({
        ui::makeConstraint(alertyIcon, Attribute::top, Relation::equal, safe, Attribute::top, 10),
        ui::makeConstraint(alertyIcon, Attribute::width, Relation::equal, 70),
        ui::makeConstraint(alertyIcon, Attribute::height, Relation::equal, 80),
        ui::makeConstraint(alertyIcon, Attribute::centerX, Relation::equal, ui::itemOf(root), Attribute::centerX, 0),
    });

    auto* title = static_cast<FittingLabel*>(alertyTitleLbl);
    title->setText(QString::fromStdString(alertTitle));
    // Sizes in points of the window's coordinates, as every other measure of this screen.
    QFont titleFont = root->font();
    titleFont.setPixelSize(18);
    titleFont.setBold(true);
    title->setBaseFont(titleFont);
    title->setParent(root);
    pin(title);
    ui::activate({
        ui::makeConstraint(title, Attribute::top, Relation::equal, ui::itemOf(alertyIcon), Attribute::bottom, 5),
        ui::makeConstraint(title, Attribute::left, Relation::equal, safe, Attribute::left, 10),
        ui::makeConstraint(title, Attribute::right, Relation::equal, safe, Attribute::right, -10),
    });

    auto* message = static_cast<FittingLabel*>(alertyMessageLbl);
    message->setText(QString::fromStdString(alertMessage));
    QFont messageFont = root->font();
    messageFont.setPixelSize(13);
    messageFont.setBold(false);
    message->setBaseFont(messageFont);
    message->setParent(root);
    pin(message);
    ui::activate({
        ui::makeConstraint(message, Attribute::top, Relation::equal, ui::itemOf(title), Attribute::bottom, 5),
        ui::makeConstraint(message, Attribute::left, Relation::equal, safe, Attribute::left, 10),
        ui::makeConstraint(message, Attribute::right, Relation::equal, safe, Attribute::right, -10),
    });

    const bool dark = ui::traitCollectionOf(root).userInterfaceStyle == ui::InterfaceStyle::dark;
    alertyCloseBtn->setText(QString());
    alertyCloseBtn->setAccessibleName(QStringLiteral("Close"));
    alertyCloseBtn->setFlat(true);
    alertyCloseBtn->setStyleSheet(QStringLiteral("QPushButton { border: none; border-radius: 5px; background-color: %1; }"
                                                 "QPushButton:pressed { background-color: %2; }")
                                      .arg(systemFill(dark).name(QColor::HexArgb),
                                           secondarySystemFill(dark).name(QColor::HexArgb)));
    alertyCloseBtn->setParent(root);
    pin(alertyCloseBtn);
    ui::activate({
        ui::makeConstraint(alertyCloseBtn, Attribute::top, Relation::equal, ui::itemOf(message), Attribute::bottom, 15),
        ui::makeConstraint(alertyCloseBtn, Attribute::width, Relation::equal, 120),
        ui::makeConstraint(alertyCloseBtn, Attribute::height, Relation::equal, 30),
        ui::makeConstraint(alertyCloseBtn, Attribute::centerX, Relation::equal, ui::itemOf(root), Attribute::centerX, 0),
    });
    QObject::connect(alertyCloseBtn, &QPushButton::clicked, this, [this] { closeAlert(); });
    // The alert's one button is its default and its cancel: the focus starts on it once shown
    // (Space presses it), and Escape, Return and Enter press it too.
    alertyCloseBtn->setFocusPolicy(Qt::StrongFocus);
    alertyCloseBtn->installEventFilter(new OneButtonKeys(alertyCloseBtn));
}

void AlertViewController::applyCatalystWindowStyle() {
    std::shared_ptr<DesktopWindowSystem> desktop = desktopLookup()("NSApplication");
    if (!desktop) return;  // not on a desktop whose window system answers to that name
    QWidget* root = viewIfLoaded();
    if (!root) return;
    std::shared_ptr<DesktopWindowObject> own = desktop->host_window_for(root->window());
    if (!own) return;
    if (auto mask = own->unsigned_value_for_key("styleMask")) {
        own->set_unsigned_value_for_key("styleMask", *mask & ~kStyleMaskResizable);
    }
    if (auto behavior = own->unsigned_value_for_key("collectionBehavior")) {
        own->set_unsigned_value_for_key("collectionBehavior",
                                        (*behavior & ~(kFullScreenPrimary | kFullScreenAuxiliary)) | kFullScreenNone);
    }
}

void AlertViewController::closeAlert() { close_alert_scene(); }

void AlertViewController::close_alert_scene() {
    QWidget* root = viewIfLoaded();
    auto* window = root ? qobject_cast<ui::Window*>(root->window()) : nullptr;
    ui::Scene* scene = window ? window->windowScene() : nullptr;
    ui::SceneSession* session = scene ? scene->session() : nullptr;
    if (!session) return;
    ui::DestructionRequestOptions options;
    options.windowDismissalAnimation = ui::DismissalAnimation::standard;
    ui::Application::shared().requestSceneSessionDestruction(session, options, nullptr);
}
