// The server window by keyboard and through Qt's accessibility interfaces, as an assistive
// technology reads it: what Tab reaches, the keys that move through folders, the names of the
// controls and dialogs, what is reported as showing, and the popups the window opens. Its own
// program, run alone, since the keys need the display's input focus.
#include <QAccessible>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QMenu>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <random>
#include <set>
#include <thread>

#include "platform/files/SshSetup.h"
#include "platform/files/FileSeams.h"
#include "ExplorerTestSupport.h"
#include "platform/ui/Accessibility.h"
#include "platform/ui/scenes/Application.h"
#include "platform/ui/scenes/Window.h"
#include "support/AccessibleTree.h"
#include "support/KeyWindow.h"
#include "support/MainQueueSettle.h"
#include "tandrel/foundation/VornServerFilesDataModel.h"
#include "tandrel/servers/ManageServicesViewController.h"
#include "tandrel/servers/QuickConnectView.h"
#include "tandrel/servers/ServerScreensWindowLink.h"
#include "tandrel/servers/VornTrust.h"

using namespace explorertest;
using filestest::makeDiskFolder;

namespace {

class ServerWindowAccessTest : public ExplorerTest {
protected:
    QWidget* screen() const { return explorer->view()->window(); }

    void connectToFtp() {
        peer_ = peer("pyftpd");
        if (!peer_.skipReason.empty()) GTEST_SKIP() << peer_.skipReason;
        folder = keyringtest::unique("a11y");
        makeDiskFolder(peer_.root / folder / "inner");
        connectTo(peer_);
    }

    // Focuses a widget of the window as a click would and waits for it.
    bool focus(QWidget* w) {
        screen()->activateWindow();
        w->setFocus(Qt::MouseFocusReason);
        return waitFor([&] { return w->hasFocus(); });
    }

    Peer peer_;
    std::string folder;
};

TEST_F(ServerWindowAccessTest, TheFirstScreenReportsOnlyTheWelcomeList) {
    FileViewerSceneDelegate* w = window.data();
    ASSERT_TRUE(waitFor([&] { return w->welcome_manage_services_vc->isViewInWindow(); }, 5000));
    settle();
    const auto hidden = testsupport::shownOutOfSight(screen());
    EXPECT_TRUE(hidden.empty()) << ::testing::PrintToString(hidden);
    const QStringList labels = testsupport::accessibleNames(screen(), QAccessible::StaticText);
    EXPECT_FALSE(labels.contains(QStringLiteral("Please Wait...")));
    // The welcome list is what shows.
    EXPECT_FALSE(testsupport::accessibleNames(screen(), QAccessible::Button).isEmpty());
}

TEST_F(ServerWindowAccessTest, TabReachesEveryControlOnceAndEachHasAName) {
    connectToFtp();
    if (IsSkipped() || HasFatalFailure()) return;
    QTableView* table = explorer->fileExplorerTableView;
    ASSERT_TRUE(focus(table));
    const testsupport::TabWalk walk = testsupport::tabWalk(screen());
    EXPECT_TRUE(walk.faults.empty()) << ::testing::PrintToString(walk.faults);
    const std::vector<QWidget*>& cycle = walk.stops;
    for (QWidget* control : std::initializer_list<QWidget*>{explorer->quickConnectView->view_wrapper_btn,
                                                             explorer->refresh_button, explorer->new_drop_button,
                                                             explorer->sortByButton, table}) {
        EXPECT_EQ(std::count(cycle.begin(), cycle.end(), control), 1) << control->metaObject()->className();
    }
    ASSERT_FALSE(explorer->path_bar_buttons().empty());
    EXPECT_EQ(std::count(cycle.begin(), cycle.end(), explorer->path_bar_buttons().front()), 1);
    // Each stop is a control with a name.
    for (QWidget* control : cycle) {
        QAccessibleInterface* i = QAccessible::queryAccessibleInterface(control);
        ASSERT_TRUE(i);
        EXPECT_FALSE(i->text(QAccessible::Name).trimmed().isEmpty()) << control->metaObject()->className();
    }
    // In order: the header, the path bar, refresh, new, sort, the table.
    auto at = [&](QWidget* w) { return std::find(cycle.begin(), cycle.end(), w) - cycle.begin(); };
    EXPECT_LT(at(explorer->refresh_button), at(explorer->new_drop_button));
    EXPECT_LT(at(explorer->new_drop_button), at(explorer->sortByButton));
}

TEST_F(ServerWindowAccessTest, TheHeaderSaysWhetherTheConnectionIsEncryptedAndIsNamedSo) {
    connectToFtp();
    if (IsSkipped() || HasFatalFailure()) return;
    QuickConnectView* header = explorer->quickConnectView;
    auto name = [](QWidget* w) { return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name); };
    ASSERT_TRUE(waitFor([&] { return name(header) == "Not encrypted"; }));
    EXPECT_EQ(name(header->encryption_Lbl), "Not encrypted");
    EXPECT_EQ(header->encryption_Lbl->text(), "Not encrypted");
    EXPECT_TRUE(testsupport::accessibleNames(screen(), QAccessible::StaticText).contains("Not encrypted"));

    // A server that speaks TLS, its certificate trusted beforehand: the lock.
    Peer tls = peer("vsftpd-tls");
    if (!tls.skipReason.empty()) GTEST_SKIP() << tls.skipReason;
    files::Certificate certificate;
    certificate.der = filestest::derOfPem(tls.values["CERT"]);
    ASSERT_TRUE(app_trust()->addCertificate("127.0.0.1", tls.port, certificate));
    connectTo(tls);
    if (HasFatalFailure()) return;
    ASSERT_TRUE(waitFor([&] { return name(header) == QuickConnectView::kEncryptedName; }));
    EXPECT_EQ(name(header->encryption_Lbl), QuickConnectView::kEncryptedName);
    EXPECT_TRUE(header->encryption_Lbl->text().isEmpty());
    EXPECT_FALSE(header->encryption_Lbl->pixmap().isNull());
    EXPECT_FALSE(testsupport::accessibleNames(screen(), QAccessible::StaticText).contains("Not encrypted"));
}

// An SFTP server saved without a password has no keyring item: its login uses the user's key
// (not a keyring error), and the header shows the lock.
// The alert in front of any window, if one shows.
ui::AlertController* frontAlert() {
    for (ui::Window* w : ui::Application::shared().windows()) {
        ui::ViewController* screen = w ? w->rootViewController() : nullptr;
        while (screen && screen->presentedViewController()) screen = screen->presentedViewController();
        if (auto* alert = dynamic_cast<ui::AlertController*>(screen)) return alert;
    }
    return nullptr;
}

TEST_F(ServerWindowAccessTest, AnSftpServerSavedWithoutAPasswordLogsInWithAKeyAndShowsTheLock) {
    Peer ssh = peer("sshd");
    ASSERT_TRUE(ssh.skipReason.empty()) << ssh.skipReason;
    const char* home = std::getenv("HOME");
    const std::string savedHome = home ? home : "";
    const char* sock = std::getenv("SSH_AUTH_SOCK");
    const std::string savedSock = sock ? sock : "";
    ::setenv("HOME", ssh.values["CLIENT_HOME"].c_str(), 1);
    files::ssh::setUserHomeForTests(ssh.values["CLIENT_HOME"]);
    ::unsetenv("SSH_AUTH_SOCK");
    auto server = saveServer(ssh.url, ssh.user, EnumManager::VornConnectionType::sftp, "");
    const int before = explorer->listing_count();
    auto outcome = connect(server->id);
    files::ssh::setUserHomeForTests(std::nullopt);
    if (home) ::setenv("HOME", savedHome.c_str(), 1);
    if (sock) ::setenv("SSH_AUTH_SOCK", savedSock.c_str(), 1);
    ASSERT_FALSE(outcome.error) << outcome.error->text();
    ASSERT_TRUE(awaitListing(before, "/"));
    QuickConnectView* header = explorer->quickConnectView;
    EXPECT_TRUE(waitFor([&] {
        return QAccessible::queryAccessibleInterface(header)->text(QAccessible::Name) == QuickConnectView::kEncryptedName;
    }));
}

// An FTP or WebDAV server saved without a keyring item asks for its password in a window (hidden
// as typed) and connects with it; Cancel there ends the connect with nothing more to tell.
TEST_F(ServerWindowAccessTest, AServerSavedWithoutAPasswordAsksForItInAWindow) {
    for (const char* kind : {"pyftpd", "apache"}) {
        SCOPED_TRACE(kind);
        Peer p = peer(kind);
        ASSERT_TRUE(p.skipReason.empty()) << p.skipReason;
        const auto type = std::string(kind) == "apache" ? EnumManager::VornConnectionType::webDav
                                                        : EnumManager::VornConnectionType::ftp;
        auto server = saveServer(p.url, p.user, type, "");
        for (bool typeIt : {false, true}) {
            QString field;
            QTimer answering;
            QObject::connect(&answering, &QTimer::timeout, [&] {
                ui::AlertController* alert = frontAlert();
                if (!alert || !alert->alertTitle().startsWith("Password for") || alert->textFields().size() != 1) return;
                QLineEdit* password = alert->textFields().front();
                field = password->accessibleName() + (password->echoMode() == QLineEdit::Password ? " hidden" : " shown");
                answering.stop();
                if (typeIt) QTest::keyClicks(password, QString::fromStdString(p.password));
                alert->performAction(typeIt ? 0 : 1);
            });
            answering.start(20);
            const int before = explorer->listing_count();
            auto outcome = connect(server->id);
            answering.stop();
            EXPECT_TRUE(field.endsWith(" hidden")) << field.toStdString();
            if (!typeIt) {
                ASSERT_TRUE(outcome.error);
                EXPECT_TRUE(outcome.error->is_silent()) << outcome.error->text();
                continue;
            }
            ASSERT_FALSE(outcome.error) << outcome.error->text();
            ASSERT_TRUE(awaitListing(before, "/"));
        }
    }
}


TEST_F(ServerWindowAccessTest, AnUntrustedCertificateIsAskedAboutInAWindowAndTrustingItConnects) {
    Peer tls = peer("vsftpd-tls");
    if (!tls.skipReason.empty()) GTEST_SKIP() << tls.skipReason;
    app_trust()->setAsker(std::make_shared<VornTrustAsker>());
    auto server = saveServer(tls);
    const std::string fingerprint = [&] {
        files::Certificate c;
        c.der = filestest::derOfPem(tls.values["CERT"]);
        return c.fingerprint();
    }();

    // The question comes while the window waits; its answer is chosen as a user would.
    struct Seen {
        QString title, message;
        QStringList actions;
    };
    std::vector<Seen> seen;
    QString choice;
    QTimer answering;
    QObject::connect(&answering, &QTimer::timeout, [&] {
        ui::AlertController* alert = frontAlert();
        if (!alert || !alert->message().contains("SHA-256")) return;
        Seen s{alert->alertTitle(), alert->message(), {}};
        int index = -1;
        for (size_t i = 0; i < alert->actions().size(); ++i) {
            s.actions << alert->actions()[i]->title();
            if (alert->actions()[i]->title() == choice) index = static_cast<int>(i);
        }
        EXPECT_EQ(QAccessible::queryAccessibleInterface(alert->view()->window())->text(QAccessible::Name), s.title);
        seen.push_back(s);
        alert->performAction(index);
    });
    answering.start(50);

    choice = "Cancel";
    auto refused = connect(server->id);
    ASSERT_TRUE(refused.error);
    EXPECT_NE(refused.error->text().find("notTrusted"), std::string::npos) << refused.error->text();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].title, "The server's certificate is not trusted");
    EXPECT_EQ(seen[0].actions, (QStringList{"Trust", "Cancel"}));
    EXPECT_TRUE(seen[0].message.contains(QString::fromStdString(fingerprint))) << seen[0].message.toStdString();
    EXPECT_TRUE(seen[0].message.contains("unable to get local issuer certificate"));

    choice = "Trust";
    const int before = explorer->listing_count();
    auto trusted = connect(server->id);
    ASSERT_FALSE(trusted.error) << trusted.error->text();
    ASSERT_TRUE(awaitListing(before, "/"));
    EXPECT_EQ(seen.size(), 2u);
    EXPECT_TRUE(waitFor([&] {
        return QAccessible::queryAccessibleInterface(explorer->quickConnectView)->text(QAccessible::Name) ==
               QuickConnectView::kEncryptedName;
    }));
    answering.stop();
    app_trust()->setAsker(nullptr);
}

TEST_F(ServerWindowAccessTest, AQuestionThatCannotBeAcceptedOnlyWarnsWithOk) {
    files::TrustQuestion question;
    question.subject = files::TrustQuestion::Subject::hostKey;
    question.verdict = files::TrustVerdict::changed;
    question.acceptable = false;
    question.title = "The server's host key has changed";
    question.message = "Remove the old key to connect again.";
    std::optional<bool> answer;
    std::thread::id answeredOn;
    VornTrustAsker().ask(question, [&](bool trust) {
        answer = trust;
        answeredOn = std::this_thread::get_id();
    });
    ASSERT_TRUE(waitFor([&] { return frontAlert() != nullptr; }));
    ui::AlertController* alert = frontAlert();
    EXPECT_EQ(alert->alertTitle(), "The server's host key has changed");
    ASSERT_EQ(alert->actions().size(), 1u);
    EXPECT_EQ(alert->actions()[0]->title(), "OK");
    EXPECT_FALSE(answer);
    alert->performAction(0);
    ASSERT_TRUE(waitFor([&] { return answer.has_value(); }));
    EXPECT_FALSE(*answer);
    EXPECT_EQ(answeredOn, std::this_thread::get_id());
}

// An SSH login's questions in a window: one field per prompt, named by the prompt and hidden as
// typed unless the server lets it show, Cancel answered as the user's Cancel; a key's passphrase
// with "Unlock and Remember", which only asks for it to be kept: once the login found it right
// (rememberPassphrase), it answers the next question for that key from the keyring, until it is
// found wrong.
TEST_F(ServerWindowAccessTest, LoginQuestionsAreAskedInAWindowWithAFieldPerPrompt) {
    auto askAndWait = [&](files::LoginQuestion question, std::function<void(ui::AlertController*)> act) {
        std::optional<std::optional<files::LoginAnswer>> answer;
        VornTrustAsker().askLogin(std::move(question), [&](std::optional<files::LoginAnswer> a) { answer = std::move(a); });
        if (act) {
            EXPECT_TRUE(waitFor([&] { return frontAlert() != nullptr; }));
            if (ui::AlertController* alert = frontAlert()) act(alert);
        }
        EXPECT_TRUE(waitFor([&] { return answer.has_value(); }));
        EXPECT_TRUE(waitFor([] { return frontAlert() == nullptr; }));
        return answer.value_or(std::nullopt);
    };
    auto titles = [](ui::AlertController* alert) {
        QStringList out;
        for (const auto& action : alert->actions()) out << action->title();
        return out;
    };

    files::LoginQuestion prompts;
    prompts.kind = files::LoginQuestion::Kind::prompts;
    prompts.host = "sftp.example.com";
    prompts.port = 22;
    prompts.user = "ann";
    prompts.title = "Two-step verification";
    prompts.instruction = "Enter the code from your authenticator app.";
    prompts.prompts = {{"Password: ", false}, {"Verification code: ", true}};
    auto typed = askAndWait(prompts, [&](ui::AlertController* alert) {
        EXPECT_EQ(alert->alertTitle(), "Two-step verification");
        EXPECT_TRUE(alert->message().contains("Enter the code from your authenticator app.")) << alert->message().toStdString();
        EXPECT_EQ(titles(alert), (QStringList{"Log In", "Cancel"}));
        const auto fields = alert->textFields();
        ASSERT_EQ(fields.size(), 2);
        EXPECT_EQ(fields[0]->accessibleName(), "Two-step verification: Password:");
        EXPECT_EQ(fields[1]->accessibleName(), "Two-step verification: Verification code:");
        EXPECT_EQ(fields[0]->echoMode(), QLineEdit::Password);
        EXPECT_EQ(fields[1]->echoMode(), QLineEdit::Normal);
        // As a screen reader finds them: the window by its title, each field by its prompt,
        // the hidden one as a password field.
        QAccessibleInterface* window = QAccessible::queryAccessibleInterface(alert->view());
        ASSERT_TRUE(window);
        EXPECT_TRUE(testsupport::accessibleNames(alert->view(), QAccessible::EditableText)
                        .contains("Two-step verification: Verification code:"));
        for (int i = 0; i < 2; ++i) {
            QAccessibleInterface* edit = QAccessible::queryAccessibleInterface(fields[i]);
            ASSERT_TRUE(edit);
            EXPECT_EQ(edit->text(QAccessible::Name), fields[i]->accessibleName());
            EXPECT_EQ(edit->state().passwordEdit, i == 0);
        }
        QTest::keyClicks(fields[0], "secret");
        QTest::keyClicks(fields[1], "123456");
        alert->performAction(0);
    });
    ASSERT_TRUE(typed);
    EXPECT_EQ(typed->answers, (std::vector<std::string>{"secret", "123456"}));
    const auto cancelled = askAndWait(prompts, [](ui::AlertController* alert) { alert->performAction(1); });
    ASSERT_TRUE(cancelled) << "Cancel is an answer";
    EXPECT_TRUE(cancelled->cancelled);
    EXPECT_TRUE(cancelled->answers.empty());
    prompts.again = true;
    askAndWait(prompts, [](ui::AlertController* alert) {
        EXPECT_TRUE(alert->message().startsWith("Permission denied, please try again.")) << alert->message().toStdString();
        alert->performAction(1);
    });

    files::LoginQuestion passphrase;
    passphrase.kind = files::LoginQuestion::Kind::passphrase;
    passphrase.host = "sftp.example.com";
    passphrase.port = 22;
    passphrase.user = "ann";
    passphrase.keyFile = "~/.ssh/key-" + std::to_string(std::random_device{}());
    passphrase.title = "Passphrase for " + passphrase.keyFile;
    auto remembered = askAndWait(passphrase, [&](ui::AlertController* alert) {
        EXPECT_EQ(alert->alertTitle().toStdString(), passphrase.title);
        EXPECT_TRUE(alert->message().contains(QString::fromStdString(passphrase.keyFile)));
        EXPECT_EQ(titles(alert), (QStringList{"Unlock", "Unlock and Remember", "Cancel"}));
        const auto fields = alert->textFields();
        ASSERT_EQ(fields.size(), 1);
        EXPECT_EQ(fields[0]->accessibleName().toStdString(), passphrase.title);
        EXPECT_EQ(fields[0]->echoMode(), QLineEdit::Password);
        QAccessibleInterface* edit = QAccessible::queryAccessibleInterface(fields[0]);
        ASSERT_TRUE(edit);
        EXPECT_EQ(edit->text(QAccessible::Name).toStdString(), passphrase.title);
        EXPECT_TRUE(edit->state().passwordEdit);
        QTest::keyClicks(fields[0], "open sesame");
        alert->performAction(1);
    });
    ASSERT_TRUE(remembered);
    EXPECT_EQ(remembered->answers, std::vector<std::string>{"open sesame"});
    EXPECT_TRUE(remembered->remember);
    // Not kept before the login found it right: the next question shows the window.
    const auto unkept = askAndWait(passphrase, [](ui::AlertController* alert) { alert->performAction(2); });
    ASSERT_TRUE(unkept);
    EXPECT_TRUE(unkept->cancelled);
    // Found right: the next question for that key is answered from the keyring, without a window
    // (the write went first on the keyring's own queue).
    VornTrustAsker().rememberPassphrase(passphrase, "open sesame");
    auto again = askAndWait(passphrase, nullptr);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->answers, std::vector<std::string>{"open sesame"});
    // Found wrong: it goes, and the window asks.
    passphrase.again = true;
    askAndWait(passphrase, [](ui::AlertController* alert) {
        EXPECT_TRUE(alert->message().startsWith("The passphrase was wrong."));
        alert->performAction(2);
    });
    passphrase.again = false;
    const auto forgotten = askAndWait(passphrase, [](ui::AlertController* alert) { alert->performAction(2); });
    EXPECT_TRUE(forgotten && forgotten->cancelled) << "forgotten: the window asks";
}

// Selects the label's whole text with the pointer: a drag from before its first character to
// after its last.
void selectByDrag(QLabel* label) {
    const QPoint from(1, 1), to(label->width() - 1, label->height() - 1);
    QTest::mousePress(label, Qt::LeftButton, Qt::NoModifier, from);
    QTest::mouseMove(label, QPoint(label->width() / 2, label->height() / 2));
    QTest::mouseMove(label, to);
    QTest::mouseRelease(label, Qt::LeftButton, Qt::NoModifier, to);
}

// A trust question is the user's answer, not an error: the warning of a changed host key shows
// once (not again as "An Error Occurred"), its removal command is copied from it by selecting
// the text, and "Cancel" on a certificate ends the connect with nothing more. The buttons are
// chosen by their mnemonics. With nobody to ask, the refusal is told as an error.
TEST_F(ServerWindowAccessTest, ATrustQuestionIsToldOnceAndItsAnswerIsNoError) {
    struct Row {
        const char* what;
        const char* peer;
        bool changedKey;    // the app knows another key for the SSH server
        bool asker;         // a window asks
        QString question;   // the alert the user answers, empty for none
        QString choice;     // the button pressed by its mnemonic
        QStringList shown;  // every alert that showed, in order
    };
    const Row rows[] = {
        {"changed host key", "sshd", true, true, "The server's host key has changed", "OK",
         {"The server's host key has changed"}},
        {"certificate refused", "vsftpd-tls", false, true, "The server's certificate is not trusted", "Cancel",
         {"The server's certificate is not trusted"}},
        {"nobody to ask", "vsftpd-tls", false, false, "", "", {"An Error Occurred"}},
    };
    QStringList shown;
    ui::AlertController::setAppearanceObserver([&shown](ui::AlertController* a) { shown << a->alertTitle(); });
    struct Unobserve {
        ~Unobserve() { ui::AlertController::setAppearanceObserver({}); }
    } unobserve;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        shown.clear();
        Peer p = peer(row.peer);
        if (!p.skipReason.empty()) GTEST_SKIP() << p.skipReason;
        const auto app = std::filesystem::temp_directory_path() / keyringtest::unique("dravix-trust");
        std::filesystem::create_directories(app);
        const std::string knownName = "[127.0.0.1]:" + std::to_string(p.port);
        if (row.changedKey) {
            const std::string key = (app / "other").string();
            ASSERT_EQ(QProcess::execute("ssh-keygen", {"-q", "-N", "", "-t", "ed25519", "-f", QString::fromStdString(key)}), 0);
            const QStringList pub = QString::fromStdString(filestest::readDiskFile(key + ".pub")).split(' ');
            ASSERT_GE(pub.size(), 2);
            filestest::writeDiskFile(app / "known_hosts", knownName + " " + pub[0].toStdString() + " " + pub[1].toStdString() + "\n");
        }
        auto trust = std::make_shared<files::Trust>(app, app / "no-user-known-hosts");
        if (row.asker) trust->setAsker(std::make_shared<VornTrustAsker>());
        set_app_trust(trust);
        auto server = saveServer(p);

        // Connected as the saved-servers list connects: the failure goes to the window's explorer.
        struct Outcome {
            bool done = false;
            std::optional<VornError> failure;
        };
        auto outcome = std::make_shared<Outcome>();
        QPointer<VornFileViewerSceneDelegateProtocol> link(window.data());
        servers_link::reset_and_connect(link, server->id, [outcome, link](std::optional<VornError> error) {
            outcome->failure = error;
            if (error) servers_link::show_error_on_window(link, *error);
            outcome->done = true;
        });
        if (!row.question.isEmpty()) {
            ASSERT_TRUE(waitFor([&] {
                ui::AlertController* a = frontAlert();
                return a && a->isViewInWindow() && a->alertTitle() == row.question;
            }, 30000));
            ui::AlertController* alert = frontAlert();
            QWidget* sheet = alert->view()->window();
            ASSERT_TRUE(testsupport::activateForKeyboard(sheet));
            if (row.changedKey) {
                const QString removal = QString::fromStdString("ssh-keygen -R \"" + knownName + "\" -f \"" +
                                                              trust->knownHostsFile().string() + "\"");
                auto* message = alert->view()->findChild<QLabel*>(QStringLiteral("alert_message"));
                ASSERT_TRUE(message);
                QGuiApplication::clipboard()->clear();
                selectByDrag(message);
                ASSERT_TRUE(message->selectedText().contains(removal)) << message->selectedText().toStdString();
                QTest::keyClick(sheet, Qt::Key_C, Qt::ControlModifier);
                EXPECT_TRUE(waitFor([&] { return QGuiApplication::clipboard()->text().contains(removal); }))
                    << QGuiApplication::clipboard()->text().toStdString();
            } else {
                // Nothing selected: Ctrl+C copies the whole message.
                QGuiApplication::clipboard()->clear();
                QTest::keyClick(sheet, Qt::Key_C, Qt::ControlModifier);
                EXPECT_TRUE(waitFor([&] { return QGuiApplication::clipboard()->text() == alert->message(); }))
                    << QGuiApplication::clipboard()->text().toStdString();
            }
            // Every button is read with its own mnemonic; the choice is pressed by it.
            QSet<QString> keys;
            QPushButton* chosen = nullptr;
            for (QPushButton* b : alert->view()->findChildren<QPushButton*>()) {
                QAccessibleInterface* i = QAccessible::queryAccessibleInterface(b);
                const QStringList bindings = i->actionInterface()->keyBindingsForAction(QAccessibleActionInterface::pressAction());
                const QString key = bindings.value(0);
                EXPECT_TRUE(key.startsWith("Alt+")) << i->text(QAccessible::Name).toStdString() << " " << key.toStdString();
                keys.insert(key);
                if (i->text(QAccessible::Name) == row.choice) chosen = b;
            }
            EXPECT_EQ(keys.size(), static_cast<qsizetype>(alert->actions().size()));
            ASSERT_TRUE(chosen) << row.choice.toStdString();
            const QKeySequence mnemonic = QKeySequence::mnemonic(chosen->text());
            ASSERT_FALSE(mnemonic.isEmpty());
            QTest::keyClick(sheet, mnemonic[0].key(), Qt::AltModifier);
            ASSERT_TRUE(waitFor([&] { return frontAlert() == nullptr || frontAlert()->alertTitle() != row.question; }))
                << "the mnemonic did not answer";
        }
        ASSERT_TRUE(waitFor([&] { return outcome->done; }, 30000)) << "the connect never finished";
        ASSERT_TRUE(outcome->failure);
        EXPECT_EQ(outcome->failure->name, "notTrusted") << outcome->failure->text();
        // An error alert is asked for through the main queue twice before it shows.
        ASSERT_TRUE(waitFor([&] { return shown.size() >= row.shown.size(); }));
        ASSERT_TRUE(testsupport::settleMainQueue(3));
        EXPECT_EQ(shown, row.shown);
        dismissAlerts();
        for (int i = 0; i < 3 && frontAlert(); ++i) {
            frontAlert()->performAction(0);
            waitFor([&] { return frontAlert() == nullptr; });
        }
        set_app_trust(nullptr);
        std::error_code ec;
        std::filesystem::remove_all(app, ec);
    }
}

TEST_F(ServerWindowAccessTest, BackspaceAndAltUpGoUpOneLevel) {
    connectToFtp();
    if (IsSkipped() || HasFatalFailure()) return;
    struct Key {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
    };
    for (const Key& k : {Key{Qt::Key_Backspace, Qt::NoModifier}, Key{Qt::Key_Up, Qt::AltModifier}}) {
        go("/" + folder + "/inner");
        ASSERT_TRUE(focus(explorer->fileExplorerTableView));
        const int before = explorer->listing_count();
        QTest::keyClick(explorer->fileExplorerTableView, k.key, k.modifiers);
        EXPECT_TRUE(awaitListing(before, "/" + folder)) << "key " << k.key;
        settle();
    }
}

// Home and End go to the first and the last row; Shift+F10 and the Menu key open the row menu
// of the current row, at that row.
TEST_F(ServerWindowAccessTest, HomeEndAndTheMenuKeysInTheFileList) {
    connectToFtp();
    if (IsSkipped() || HasFatalFailure()) return;
    for (const char* name : {"a.html", "b.html", "c.html"})
        filestest::writeDiskFile(peer_.root / folder / "inner" / name, "<p></p>\n");
    go("/" + folder + "/inner");
    QTableView* table = explorer->fileExplorerTableView;
    const int rows = model()->rowCount();
    ASSERT_GE(rows, 4);
    ASSERT_TRUE(focus(table));
    table->setCurrentIndex(model()->index(1, 0));
    QTest::keyClick(table, Qt::Key_End);
    EXPECT_EQ(table->currentIndex().row(), rows - 1) << "End";
    QTest::keyClick(table, Qt::Key_Home);
    EXPECT_EQ(table->currentIndex().row(), 0) << "Home";

    struct Key {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
    };
    for (const Key& k : {Key{Qt::Key_F10, Qt::ShiftModifier}, Key{Qt::Key_Menu, Qt::NoModifier}}) {
        const int row = rowOf("b.html");
        ASSERT_GE(row, 0);
        table->setCurrentIndex(model()->index(row, 0));
        QTest::keyClick(table, k.key, k.modifiers);
        ASSERT_TRUE(waitFor([&] { return explorer->visible_context_menu() && explorer->visible_context_menu()->isVisible(); }))
            << "key " << k.key;
        QMenu* menu = explorer->visible_context_menu();
        const QRect at(table->viewport()->mapToGlobal(table->visualRect(model()->index(row, 0)).topLeft()),
                       table->visualRect(model()->index(row, 0)).size());
        EXPECT_TRUE(at.contains(menu->pos())) << "the menu opens at the current row";
        menu->close();
        ASSERT_TRUE(waitFor([&] { return !explorer->visible_context_menu() || !explorer->visible_context_menu()->isVisible(); }));
    }
}

// The current cell is read as focused only while the table has the focus; the row is current
// again when the focus comes back.
TEST_F(ServerWindowAccessTest, ATableCellIsFocusedOnlyWhileTheTableHasTheFocus) {
    connectToFtp();
    if (IsSkipped() || HasFatalFailure()) return;
    go("/" + folder);  // the up row and "inner"
    QTableView* table = explorer->fileExplorerTableView;
    ASSERT_GE(model()->rowCount(), 2);
    ASSERT_TRUE(focus(table));
    table->setCurrentIndex(model()->index(1, 0));
    auto cellFocused = [&] {
        QAccessibleInterface* t = QAccessible::queryAccessibleInterface(table);
        QAccessibleInterface* cell = t && t->tableInterface() ? t->tableInterface()->cellAt(1, 0) : nullptr;
        return cell && cell->state().focused;
    };
    EXPECT_TRUE(cellFocused());
    ASSERT_TRUE(focus(explorer->refresh_button));
    EXPECT_FALSE(cellFocused()) << "the focus moved to the refresh button";
    ASSERT_TRUE(focus(table));
    EXPECT_EQ(table->currentIndex().row(), 1);
    EXPECT_TRUE(cellFocused());
}

// Return presses the focused button of the window, as Space does.
TEST_F(ServerWindowAccessTest, ReturnPressesTheFocusedButton) {
    connectToFtp();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_TRUE(focus(explorer->refresh_button));
    const int before = explorer->listing_count();
    QTest::keyClick(explorer->refresh_button, Qt::Key_Return);
    EXPECT_TRUE(awaitListing(before, explorer->current_settings.current_dir)) << "Return refreshes";
    settle();
    ASSERT_TRUE(focus(explorer->sortByButton));
    QTest::keyClick(explorer->sortByButton, Qt::Key_Enter, Qt::KeypadModifier);
    ASSERT_TRUE(waitFor([&] { return explorer->sort_menu() && explorer->sort_menu()->isVisible(); })) << "Enter opens";
    explorer->sort_menu()->close();
}

TEST_F(ServerWindowAccessTest, TheTableTheSwitchersArrowAndTheDialogFieldsHaveNames) {
    connectToFtp();
    if (IsSkipped() || HasFatalFailure()) return;
    EXPECT_FALSE(QAccessible::queryAccessibleInterface(explorer->fileExplorerTableView)->text(QAccessible::Name).isEmpty());
    EXPECT_FALSE(QAccessible::queryAccessibleInterface(explorer->quickConnectView->quickViewDownArrowImageView)
                     ->text(QAccessible::Name)
                     .isEmpty());

    // New file, new folder, rename: the dialog and its text field are read by its title.
    struct Case {
        std::function<void()> open;
        QString title;
    };
    auto entry = std::make_shared<VornServerFileDataModel>();
    entry->name = folder;
    entry->path = "/" + folder;
    entry->kind = URLFileResourceType::directory;
    const std::vector<Case> cases = {
        {[&] { explorer->new_file(); }, QStringLiteral("Create New File")},
        {[&] { explorer->new_folder(); }, QStringLiteral("Create New Folder")},
        {[&] { explorer->show_rename_alert(entry); }, QStringLiteral("Rename Directory")},
    };
    for (const Case& c : cases) {
        c.open();
        ui::AlertController* alert = awaitAlert();
        ASSERT_TRUE(alert) << c.title.toStdString();
        settle();
        ASSERT_EQ(alert->textFields().size(), 1);
        QLineEdit* field = alert->textFields().front();
        EXPECT_EQ(QAccessible::queryAccessibleInterface(field)->text(QAccessible::Name), c.title);
        EXPECT_EQ(QAccessible::queryAccessibleInterface(field->window())->text(QAccessible::Name), c.title);
        alert->dismissViewControllerAnimated(false);
        waitFor([&] { return shownAlert() == nullptr; });
        settle();
    }
}

TEST_F(ServerWindowAccessTest, WhileManageServicesShowsTheBrowserIsNotReported) {
    connectToFtp();
    if (IsSkipped() || HasFatalFailure()) return;
    explorer->quickConnectView->manage_services();
    settle();
    const auto hidden = testsupport::shownOutOfSight(screen());
    EXPECT_TRUE(hidden.empty()) << ::testing::PrintToString(hidden);
    for (QWidget* control : std::initializer_list<QWidget*>{explorer->refresh_button, explorer->new_drop_button,
                                                             explorer->sortByButton, explorer->fileExplorerTableView}) {
        EXPECT_TRUE(QAccessible::queryAccessibleInterface(control)->state().invisible)
            << control->metaObject()->className();
    }
}

TEST_F(ServerWindowAccessTest, OpenPopupsAreInTheWindowsTree) {
    connectToFtp();
    if (IsSkipped() || HasFatalFailure()) return;
    struct Case {
        QAbstractButton* opener;
        std::function<QMenu*()> menu;
        QString entry;
    };
    const std::vector<Case> cases = {
        {explorer->sortByButton, [&] { return explorer->sort_menu(); }, QStringLiteral("Last Modified")},
        {explorer->new_drop_button, [&] { return explorer->new_item_menu(); }, QStringLiteral("Folder")},
        {explorer->quickConnectView->view_wrapper_btn, [&] { return explorer->quickConnectView->visible_menu(); },
         QStringLiteral("Manage Services")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(QAccessible::queryAccessibleInterface(c.opener)->role(), QAccessible::ButtonMenu);
        QTest::mouseClick(c.opener, Qt::LeftButton);
        ASSERT_TRUE(waitFor([&] { return c.menu() && c.menu()->isVisible(); })) << c.entry.toStdString();
        QAccessibleInterface* popup = testsupport::firstOfRole(screen(), QAccessible::PopupMenu);
        ASSERT_TRUE(popup) << c.entry.toStdString();
        EXPECT_TRUE(testsupport::childNames(popup).contains(c.entry)) << c.entry.toStdString();
        c.menu()->close();
        ASSERT_TRUE(waitFor([&] { return !c.menu() || !c.menu()->isVisible(); }));
        EXPECT_EQ(testsupport::firstOfRole(screen(), QAccessible::PopupMenu), nullptr);
    }
}

}  // namespace
