#pragma once
// The saved-servers list and the server form inside a real file-viewer window: the window's
// welcome list (embedded by its explorer), forms presented over it, alerts answered as a user
// would, and the store's file, the keyring and the window's connection checked afterwards.
#include <QByteArray>
#include <QLineEdit>
#include <QTest>
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/AlertController.h"
#include "tandrel/servers/ManageServicesViewController.h"
#include "tandrel/servers/ManageServices_TableViewCell.h"
#include "tandrel/servers/OpsTestSupport.h"
#include "tandrel/servers/SingleServiceViewController.h"
#include "tandrel/servers/ServicesTableView.h"

namespace listtest {

using opstest::Peer;
using opstest::Type;
using Field = SingleServiceViewController::ui_elements;

// Computed here on its own, not with the app's helper: Base64 of the UTF-8 of url + "-" + user.
inline std::string idFor(const std::string& url, const std::string& user) {
    return QByteArray::fromStdString(url + "-" + user).toBase64().toStdString();
}

struct FormValues {
    std::string nickname;
    std::string url;
    std::string user;
    std::string password;
    std::optional<std::string> port;
};

class ListTest : public opstest::OpsTest {
protected:
    void SetUp() override {
        OpsTest::SetUp();
        if (HasFatalFailure()) return;
        folder_ = std::filesystem::temp_directory_path() / keyringtest::unique("dravix-list");
        std::filesystem::create_directories(folder_);
        servicesFile = folder_ / "app_services.json";
        app_services_manager().url = servicesFile;
        list = window->welcome_manage_services_vc.get();
        ASSERT_TRUE(list);
        // The explorer embeds the window's list in its welcome screen a second after it opens.
        if (!waitFor([&] { return list->isViewLoaded() && list->isViewInWindow(); }, 3000)) {
            host_ = std::make_unique<QWidget>();
            host_->resize(300, 770);
            list->view()->setParent(host_.get());
            list->view()->setGeometry(host_->rect());
            host_->show();
        }
        ASSERT_TRUE(list->isViewInWindow());
        // A window without saved servers opens on the add form: the cases start from the list.
        if (!host_ && waitFor([&] { return list->presentedViewController() != nullptr; }, 5000)) {
            list->dismissViewControllerAnimated(false);
            settle();
        }
    }
    void TearDown() override {
        for (int i = 0; i < 5 && list && list->presentedViewController(); ++i) {
            answerAlertsOn(list->presentedViewController());
            list->dismissViewControllerAnimated(false);
            settle();
        }
        host_.reset();
        OpsTest::TearDown();
        app_services_manager().url.reset();
        app_services_manager().appServicesModel = std::make_shared<VornServicesDataModel>();
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }

    // ---- the store and the keyring -------------------------------------------------------------
    // A saved server with `count` records of its id, its password in the keyring (unless empty).
    std::shared_ptr<VornSingleServiceDataModel> storeServer(const std::string& url, const std::string& user, Type type,
                                                            const std::string& password, const std::string& nickname,
                                                            int count = 1) {
        std::shared_ptr<VornSingleServiceDataModel> first;
        for (int i = 0; i < count; ++i) {
            auto s = std::make_shared<VornSingleServiceDataModel>();
            s->url = url;
            s->username = user;
            s->connection_type = type;
            s->nickname = nickname;
            s->id = idFor(url, user);
            app_services_manager().appServicesModel->saved_services.push_back(s);
            if (!first) first = s;
        }
        keys.add(url, idFor(url, user));
        if (!password.empty()) {
            auto o = keyringtest::runNow([&](keychain::Completion c) {
                keychain::writePassword(url, idFor(url, user), password, std::move(c));
            });
            EXPECT_FALSE(o.failure) << o.failure->text();
        }
        return first;
    }
    static std::vector<std::shared_ptr<VornSingleServiceDataModel>> recordsWithId(const std::string& id) {
        std::vector<std::shared_ptr<VornSingleServiceDataModel>> out;
        for (const auto& s : app_services_manager().appServicesModel->saved_services)
            if (s && s->id == id) out.push_back(s);
        return out;
    }
    // The stored password, or nothing (itemNotFound).
    static std::optional<std::string> keychainPassword(const std::string& url, const std::string& user) {
        auto o = keyringtest::readNow(url, idFor(url, user));
        if (o.failure && o.failure->kind != keychain::Failure::Kind::itemNotFound)
            ADD_FAILURE() << "keyring: " << o.failure->text();
        return o.secret;
    }
    std::string servicesFileText() const {
        return std::filesystem::exists(servicesFile) ? testsupport::readFile(servicesFile) : std::string();
    }

    // ---- the list ----------------------------------------------------------------------------
    // Reloads the list from the store and waits for it.
    void reloadList() {
        const int before = list->reload_count();
        list->reload_services_on_main();
        ASSERT_TRUE(waitFor([&] { return list->reload_count() > before; }));
        settle();
    }
    ManageServices_TableViewCell* row(int index) const {
        return dynamic_cast<ManageServices_TableViewCell*>(list->services_tableView->cellForRow(index));
    }

    // ---- the form ----------------------------------------------------------------------------
    SingleServiceViewController* shownForm() const {
        return dynamic_cast<SingleServiceViewController*>(list->presentedViewController());
    }
    QPointer<SingleServiceViewController> openAddForm() {
        list->new_service_pressed();
        return shownForm();
    }
    QPointer<SingleServiceViewController> openEditForm(int index) {
        ManageServices_TableViewCell* cell = row(index);
        if (!cell) return nullptr;
        QTest::mouseClick(cell->edit_button, Qt::LeftButton);
        return shownForm();
    }
    static QLineEdit* field(SingleServiceViewController* form, Field f) { return form->element_ui_tf_dict.at(f); }
    static void fill(SingleServiceViewController* form, const FormValues& v) {
        field(form, Field::nickname)->setText(QString::fromStdString(v.nickname));
        field(form, Field::server_url)->setText(QString::fromStdString(v.url));
        field(form, Field::username)->setText(QString::fromStdString(v.user));
        field(form, Field::password)->setText(QString::fromStdString(v.password));
        if (v.port) field(form, Field::port)->setText(QString::fromStdString(*v.port));
    }
    // Picks a protocol as a click on its segment does.
    static void pickSegment(SingleServiceViewController* form, int index) {
        QTest::mouseClick(form->add_service_type, Qt::LeftButton, {}, form->add_service_type->segmentRect(index).center());
    }
    static bool idle(SingleServiceViewController* form) {
        return form && !form->is_authenticating() && !form->spinner->isAnimating() && form->apply_btn->isEnabled() &&
               form->authenticating_lbl->isHidden();
    }

    // ---- alerts ------------------------------------------------------------------------------
    static ui::AlertController* alertOn(ui::ViewController* screen) {
        return screen ? dynamic_cast<ui::AlertController*>(screen->presentedViewController()) : nullptr;
    }
    ui::AlertController* awaitAlert(ui::ViewController* screen, int ms = 30000) {
        QPointer<ui::ViewController> guard(screen);
        waitFor([&] { return guard && alertOn(guard) != nullptr; }, ms);
        return guard ? alertOn(guard) : nullptr;
    }
    // Chooses the action with that title and waits for the alert to go.
    bool choose(ui::ViewController* screen, const QString& title) {
        ui::AlertController* alert = alertOn(screen);
        if (!alert) return false;
        for (size_t i = 0; i < alert->actions().size(); ++i) {
            if (alert->actions()[i]->title() != title) continue;
            QPointer<ui::ViewController> guard(screen);
            if (!alert->performAction(static_cast<int>(i))) return false;
            waitFor([&] { return !guard || alertOn(guard) != alert; }, 3000);
            settle();
            return true;
        }
        return false;
    }
    void answerAlertsOn(ui::ViewController* screen) {
        for (int i = 0; i < 5 && screen && alertOn(screen); ++i) {
            alertOn(screen)->performAction(0);
            settle();
        }
    }

    ManageServicesViewController* list = nullptr;
    std::filesystem::path servicesFile;
    keyringtest::Cleanup keys;

private:
    std::filesystem::path folder_;
    std::unique_ptr<QWidget> host_;
};

}  // namespace listtest
