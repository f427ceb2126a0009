#pragma once
// The file explorer: the root screen of a file-viewer window. From top to bottom: the connection
// header, a row with the path bar, the refresh, new-item and sort buttons, and the table of the
// current remote folder. While no server is connected the welcome splash, which embeds the
// window's saved-servers list, covers the screen.
//
// Listing: go_to_directory asks the window's provider for the folder; the answer becomes a sorted
// listing with "[UP ONE LEVEL] .." first, shown in one model reset. Only the latest request is
// shown: an older answer that arrives late is dropped. Every end of a load (success or failure)
// stops the spinner and the refresh indicator.
#include <QMenu>
#include <QPointer>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tandrel/foundation/EnumManager.h"
#include "tandrel/foundation/VornServerFilesDataModel.h"
#include "tandrel/foundation/VornServicesDataModel.h"
#include "tandrel/foundation/VornFileServerViewController.h"
#include "tandrel/servers/ManageServicesProtocols.h"
#include "tandrel/servers/current_file_explorer_settings.h"

class QAction;

class QPushButton;
class QScrollArea;
class QWidget;
class FileExplorerTableView;
class FileExplorerListingModel;
class FileViewerSceneDelegate;
class QuickConnectView;
class VornProviderBucket;
class VornTargetedButton;
class CompactDocumentInterface;
class VornACEFileSessionsDataModel;
class VornDeletedFilesViewController;
namespace ui {
class AlertController;
}
namespace servers_ui {
class ActivityIndicatorView;
class RefreshControl;
}

class VornFileViewController : public VornFileServerViewController, public welcome_manage_services_protocol {
    Q_OBJECT
public:
    VornFileViewController();
    ~VornFileViewController() override;

    // ---- views (made with the screen) ---------------------------------------------------------
    servers_ui::ActivityIndicatorView* spinner;  // busy indicator, centred over the table
    FileExplorerTableView* fileExplorerTableView;
    QPushButton* sortByButton;
    QScrollArea* path_bar_view;  // the path bar's place in the row; scrolls when the path is long
    QWidget* currentDIR_view;    // the path bar's segments
    servers_ui::RefreshControl* refreshControl;  // the refresh indicator inside the table
    QPushButton* refresh_button;                 // the refresh action's button (F5 too)
    QAction* refresh_action;
    QAction* up_one_level_action;  // Backspace, Alt+Up: the "[UP ONE LEVEL] .." row's move
    QWidget* welcome_splash_view;
    QuickConnectView* quickConnectView;
    QPushButton* new_drop_button;

    // The document interface of the single-window route (the last file opened there).
    std::shared_ptr<CompactDocumentInterface> iphone_doc_int;
    // What the screen shows.
    current_file_explorer_settings current_settings;

    FileExplorerListingModel* listing_model() const { return model_; }
    // The window this screen works for, when it is still there.
    FileViewerSceneDelegate* file_window() const;

    // ---- navigation and loading -----------------------------------------------------------------
    // Lists a remote folder ("../": the parent of the current folder) and shows it. Nothing
    // without a window or a connection.
    void go_to_directory(const std::string& path, bool show_spinner);
    // Later on the main queue: empties the table (and starts the spinner when asked).
    void begin_loading_on_main(bool show_spinner);
    void begin_loading(bool show_spinner);
    // Stops the spinner, reloads the table, ends the refresh indicator.
    void finish_loading();
    // Later on the main queue: lists the window's current folder again.
    void refresh_directory_on_main(bool show_spinner);
    // The refresh action (button, F5): the same as pull-to-refresh.
    Q_INVOKABLE void refresh();
    // Later on the main queue: redraws the visible rows.
    void reload_visible_sections_on_main();
    void reload_visible_sections();
    // The app wrote `size` bytes to the file at `path`: when the listing on screen is of its
    // folder, the file's row takes the new size and the time now, or, for a file the listing
    // does not hold (one a save made again), a row is added in the listing's order. Nothing is
    // asked of the server. While a listing is on its way the file waits for it (the answer may
    // have left the server before the write). False when the listing is of another folder.
    bool file_written(const std::string& path, int64_t size);
    // The folder "../" stands for when the current folder is `current_dir`.
    static std::string parent_directory(const std::string& current_dir);
    // Whether a listing request is in flight, how many listings were shown so far, how many
    // answers to listing requests arrived (shown, failed or overtaken), and how many times the
    // visible rows were redrawn.
    bool is_loading() const { return loading_; }
    int listing_count() const { return listings_shown_; }
    // How many times part of a folder still loading was shown (the rows so far, sorted).
    int partial_listing_count() const { return partial_listings_shown_; }
    int listing_answer_count() const { return listing_answers_; }
    int visible_reload_count() const { return visible_reloads_; }

    // ---- path bar --------------------------------------------------------------------------------
    struct PathSegment {
        std::string component;  // the folder name, or "ROOT"
        std::string targetDIR;  // "/ROOT", "/ROOT/www", ...
        bool house = false;     // drawn as the house symbol (the component is "ROOT")
        std::string tooltip;    // "Click to go to '/home/ann/www'": the folder as the server names it
    };
    // The segments of a folder of the connection; `root_on_server` is the server's path of the
    // connection's root (FileProvider::rootOnServer: the login folder, for an address without a
    // path), which the house's tooltip names and the others' start from.
    static std::vector<PathSegment> path_segments(const std::string& current_dir,
                                                  const std::string& root_on_server = "/");
    // The folder a segment opens: its target without the leading "/ROOT" (only that one).
    static std::string path_bar_target(const std::string& targetDIR);
    void build_path_bar();
    // A path longer than the bar leaves out its middle folders (a "…" stands for them) so that
    // the house stays whole at the left and the current folder in sight; a current folder whose
    // name is still too long for the room left has its name cut short.
    void fit_path_bar();
    void goTo_DIR(VornTargetedButton* sender);
    // The segments on screen now.
    std::vector<VornTargetedButton*> path_bar_buttons() const;

    // ---- sort and new-item menus ------------------------------------------------------------------
    void build_sort_menu();
    void build_new_item_menu();
    // The menus these buttons open.
    QMenu* sort_menu() const { return sort_menu_; }
    QMenu* new_item_menu() const { return new_item_menu_; }
    void select_sort_order(EnumManager::file_explorer_sorting order);
    static QString sort_title(EnumManager::file_explorer_sorting order);
    // The stored "FILEEXPLORER_SORTING" as a number, when it is a decimal integer.
    static std::optional<int64_t> stored_sort_number();

    // ---- connection state and title ---------------------------------------------------------------
    // Shows the explorer's controls and lists the server's root folder.
    void show_connected_state();
    // Hides the controls and empties the table.
    void show_disconnected_state();
    void update_window_title_on_main(std::shared_ptr<VornSingleServiceDataModel> service);
    void update_window_title(const std::shared_ptr<VornSingleServiceDataModel>& service);
    // One second later: embeds the window's saved-servers list in the welcome splash again.
    void rebuild_welcome_splash_later();
    void rebuild_welcome_splash();
    // Fades the splash in and brings it to the front, or hides it.
    void show_welcome_splash_view();
    void hide_welcome_splash_view();
    // Lists the parent of the current folder (while connected).
    void go_up_one_level();
    // The welcome list calls this after a connection made from the splash (nothing to do here).
    void welcome_service_connected() override;

    void user_interface_style_did_change(const ui::TraitCollection& previous,
                                         const ui::TraitCollection& current) override;

    // ---- table: selecting, opening, context menu ----------------------------------------------------
    void select_cell_row(int row);
    // Opens the row's entry: a folder is listed, a file opened in a document window (or in the
    // compact editor where there is one window).
    void open_file_entry(int row);
    void open_file(const std::shared_ptr<VornServerFileDataModel>& entry);
    // Whether a file opens with the preview: a page the preview shows (preview_page_kind).
    static bool preview_supported_for_path(const std::string& path);
    // The context menu of a row: "Rename …" and "Delete …", and for a folder "Deleted Files…";
    // nothing for the "[UP ONE LEVEL] .." row or a row without an entry.
    std::unique_ptr<QMenu> build_context_menu(int row);
    // The context menu of the table where it has no row: "Deleted Files…" of the folder shown;
    // nothing while not connected.
    std::unique_ptr<QMenu> build_folder_menu();
    static constexpr const char* kDeletedFiles = "Deleted Files\u2026";
    // The sheet of the folder's files that the server's history keeps copies of but that are
    // not on the server now (VornDeletedFilesViewController); nothing when it cannot be shown.
    std::shared_ptr<VornDeletedFilesViewController> show_deleted_files(const std::string& folder);
    QMenu* visible_context_menu() const { return context_menu_; }

    // Rename: the name is checked (not empty, ".", "..", no "/" or control character) and must
    // not be taken in the folder; the item is moved on the server (files and folders alike).
    std::shared_ptr<ui::AlertController> show_rename_alert(const std::shared_ptr<VornServerFileDataModel>& entry);
    void rename_remote_item(const std::shared_ptr<VornServerFileDataModel>& entry, const std::string& new_name);
    // The error for a new name, nothing when it can be used.
    std::optional<VornError> check_rename(const VornServerFileDataModel& entry, const std::string& new_name) const;
    static std::string renamed_path(const std::string& old_path, const std::string& new_name);
    // After the move of `from` to `to`: open files follow (FileViewerSceneDelegate::remote_item_moved).
    void rename_finished(const std::optional<VornError>& error, const std::string& from = {}, const std::string& to = {});
    // Delete: asks first, then removes the item (a folder with everything in it).
    void confirm_delete(const std::shared_ptr<VornServerFileDataModel>& entry);
    void delete_remote_item(const std::shared_ptr<VornServerFileDataModel>& entry);
    void delete_finished(const std::optional<VornError>& error, const std::string& path = {});
    // "Directory" or "File".
    static std::string kind_word(const VornServerFileDataModel& entry);

    // ---- compact editor route (one window) ---------------------------------------------------------
    void open_in_compact_editor(const std::string& service_id, const std::string& bucket_id, bool preview);
    void present_compact_editor(const std::string& service_id, const std::string& bucket_id);
    // Seconds the route waits for the document side to record the file's editing session.
    static constexpr int kCompactEditorWaitMs = 2000;

    // Layout sizes.
    static constexpr int kRowButtonSide = 44;
    static constexpr int kHeaderHeight = 80;

protected:
    void loadView() override;
    void viewDidLoad() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setup_quick_connect_header();
    void setup_explorer();
    void setup_sort_button();
    void setup_new_item_button();
    void setup_refresh_button();
    void setup_path_bar_view();
    void setup_table();
    void setup_welcome_splash();
    void hide_views_under_splash();
    void show_views_under_splash();
    // The keyboard's order through the screen's controls (again whenever the path bar changes).
    void update_tab_order();
    void load_directory(const FileViewerSceneDelegate& window, const std::string& path, uint64_t request);
    void listing_received(uint64_t request, const std::string& path, std::shared_ptr<VornServerFilesDataModel> listing,
                          std::optional<VornError> error);
    void apply_listing(const std::string& path, std::shared_ptr<VornServerFilesDataModel> listing);
    // Entries of the folder being loaded: shown with those before, in the stored order.
    void listing_part_received(uint64_t request, const std::string& path,
                               std::vector<std::shared_ptr<VornServerFileDataModel>> entries);
    void show_partial_listing();
    // Shows a listing in the table; the selected and current rows (by path) and the scroll
    // position stay where they were.
    void show_listing_keeping_place(std::shared_ptr<VornServerFilesDataModel> listing);
    void listing_saved(const std::optional<VornError>& error);
    void listing_failed(const std::optional<VornError>& error, uint64_t request);
    void show_context_menu(const QPoint& position);

    FileExplorerListingModel* model_ = nullptr;
    bool loading_ = false;
    // Files the app wrote while a listing was on its way (path, size): shown once it is.
    std::vector<std::pair<std::string, int64_t>> written_while_loading_;
    int listings_shown_ = 0;
    int partial_listings_shown_ = 0;
    // The entries of the folder being loaded that came so far (unsorted), and its path.
    std::vector<std::shared_ptr<VornServerFileDataModel>> partial_rows_;
    std::string partial_path_;
    int listing_answers_ = 0;
    int visible_reloads_ = 0;
    uint64_t listing_request_ = 0;
    QPointer<QMenu> context_menu_;
    QPointer<QMenu> sort_menu_;
    QPointer<QMenu> new_item_menu_;
    bool controls_built_ = false;
    // The views the welcome splash hid; shown again when it goes.
    QList<QPointer<QWidget>> under_splash_;
};
