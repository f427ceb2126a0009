#pragma once
// The file explorer against the local servers: a connected file-viewer window, the explorer's
// rows, waits for listings, and a document-window request recorder.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "OpsTestSupport.h"
#include "tandrel/foundation/UserPrefs.h"
#include "platform/ui/Layout.h"
#include "platform/ui/View.h"
#include "tandrel/foundation/TandrelExtensions.h"
#include "tandrel/scenes/DocumentScene.h"
#include "tandrel/servers/FileExplorerListingModel.h"
#include "tandrel/servers/QuickConnectView.h"
#include "tandrel/servers/ServerScreenWidgets.h"
#include "tandrel/servers/VornFileViewController.h"

namespace explorertest {

using filestest::Peer;

// What the last document window asked for carried.
struct DocumentRequests {
    static std::vector<QVariantMap>& all() {
        static std::vector<QVariantMap> list;
        return list;
    }
};

class RecordingDocumentDelegate : public ui::SceneDelegate, public DocumentSceneServiceLink {
public:
    std::optional<std::string> document_service_session_id() const override { return service_; }
    void willConnectToSession(ui::Scene* scene, ui::SceneSession*, const ui::ConnectionOptions& options) override {
        QVariantMap info;
        if (!options.userActivities.isEmpty()) {
            info = options.userActivities.first().userInfo().value_or(QVariantMap());
            info.insert(QStringLiteral("__type"), options.userActivities.first().activityType());
        }
        DocumentRequests::all().push_back(info);
        if (info.contains(QStringLiteral("service_session_id")))
            service_ = info.value(QStringLiteral("service_session_id")).toString().toStdString();
        auto* w = new ui::Window(scene);
        setWindow(w);
    }

private:
    std::optional<std::string> service_;
};

class ExplorerTest : public opstest::OpsTest {
protected:
    void SetUp() override {
        opstest::OpsTest::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        DocumentRequests::all().clear();
        declare<DocumentScene, RecordingDocumentDelegate>(SceneKind::main_editor);
        UserPrefs::setPreference("FILEEXPLORER_SORTING", defaults::Value(int64_t(0)));
        explorer = window->fileView_controller.get();
        ASSERT_TRUE(explorer);
        ASSERT_TRUE(waitFor([&] { return explorer->sort_menu() != nullptr; }));
        // The explorer's own reload, not the recorder the window tests install.
        window->explorer_reload_hook = nullptr;
        ASSERT_TRUE(waitFor([&] { return explorer->fileExplorerTableView->parentWidget() != nullptr; }));
        if (!sortMenuUnset_) explorer->build_sort_menu();
    }

    FileExplorerListingModel* model() const { return explorer->listing_model(); }

    // The titles of the rows as the table shows them.
    std::vector<std::string> rowTitles() const {
        std::vector<std::string> out;
        for (int r = 0; r < model()->rowCount(); ++r)
            out.push_back(model()->data(model()->index(r, 0), Qt::DisplayRole).toString().toStdString());
        return out;
    }
    int rowOf(const std::string& title) const {
        const auto titles = rowTitles();
        for (size_t i = 0; i < titles.size(); ++i)
            if (titles[i] == title) return static_cast<int>(i);
        return -1;
    }

    // Waits until the explorer has shown a listing after the `before`-th one, of that folder.
    bool awaitListing(int before, const std::string& dir, int timeoutMs = 30000) {
        return waitFor([&] { return explorer->listing_count() > before && !explorer->is_loading(); }, timeoutMs) &&
               explorer->current_settings.current_dir == dir &&
               model()->rowCount() == static_cast<int>(explorer->current_settings.currentServerReturnInfo->fileSections
                                                             ? explorer->current_settings.currentServerReturnInfo->fileSections->size()
                                                             : 0);
    }

    // Connects the window to the peer's server and waits for the root listing.
    void connectTo(const Peer& p) {
        auto server = saveServer(p);
        const int before = explorer->listing_count();
        auto outcome = connect(server->id);
        ASSERT_FALSE(outcome.error) << outcome.error->text();
        ASSERT_TRUE(outcome.bucket);
        ASSERT_TRUE(awaitListing(before, "/")) << "no root listing";
        settle();
    }

    void go(const std::string& path, const std::string& expected) {
        const int before = explorer->listing_count();
        explorer->go_to_directory(path, true);
        ASSERT_TRUE(awaitListing(before, expected)) << "no listing of " << expected;
        settle();
    }
    void go(const std::string& path) { go(path, path); }

    VornFileViewController* explorer = nullptr;
    // Leaves the sort menu as the window made it (before the test stored an order).
    bool sortMenuUnset_ = false;
};

}  // namespace explorertest
