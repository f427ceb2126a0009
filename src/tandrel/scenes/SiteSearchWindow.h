#pragma once
// The "Find in Site — NICKNAME" window: searches every text file of a server window's server
// (SiteSearch) and replaces in all of them (SiteReplace), over that window's connection.
//
// One window per server window (Find > "Find in Site…", Ctrl+Shift+F, in the server window and
// in its document windows); it closes with its server window. The search starts with "Find" (or
// Return in the "Find" field) in the folder shown (the server's web root, else the login folder);
// results come in as files are searched, one group per file, each line with its number and the
// match marked; a double-click opens the file in a document window (or brings its window
// forward) with the match selected. Open documents with unsaved changes are searched in their
// editors' text. Each saved server keeps one search cache for the app's run.
//
// Replace All asks "Replace N matches in M files?", then: files open in document windows get the
// replacement in their editors as unsaved edits (when their text is still the one searched);
// the others are saved through the server window's one save road (write_file_text_checked)
// with the version the search read, so a file changed on the server since is skipped and named.
// The summary says what was replaced and what was skipped. Stop ends a search at once, and a
// Replace All after the saves on their way.
//
// Main thread only. Completions from the search hop to the main queue and reach the window only
// while it lives (QPointer).
#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tandrel/search/SiteReplace.h"
#include "tandrel/search/SiteSearch.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class DocumentInterfaceManager;
class VornFileViewerSceneDelegateProtocol;

class SiteSearchWindow : public QWidget {
    Q_OBJECT
public:
    // Opens the window of the file-viewer window, or brings it forward; nothing without one.
    static SiteSearchWindow* open_for(VornFileViewerSceneDelegateProtocol* file_viewer);
    // The window of that file-viewer window, when one is open.
    static SiteSearchWindow* window_for(const VornFileViewerSceneDelegateProtocol* file_viewer);
    // The search cache of a saved server, kept for the app's run.
    static std::shared_ptr<sitesearch::SiteSearchCache> cache_for(const std::string& service_id);

    explicit SiteSearchWindow(VornFileViewerSceneDelegateProtocol* file_viewer);
    ~SiteSearchWindow() override;

    // "Find in Site — NICKNAME".
    static QString title_for(const std::string& nickname);

    // Starts a search with the fields' values (a running search or replace is stopped first).
    void start_search();
    // Asks "Replace N matches in M files?"; its "Replace All" replaces (replace_confirmed).
    void replace_all();
    void replace_confirmed();
    void stop();
    // Opens the result's file at its match (a line of the results; a file's group: its first match).
    void open_result(QTreeWidgetItem* item);

    bool running() const { return search_ || replace_ || gathering_; }
    const std::vector<sitesearch::FileHits>& results() const { return hits_; }

    QLineEdit* find_field = nullptr;
    QLineEdit* replace_field = nullptr;
    QCheckBox* match_case = nullptr;
    QCheckBox* whole_word = nullptr;
    QCheckBox* regular_expression = nullptr;
    QLineEdit* folder_field = nullptr;
    QLineEdit* include_field = nullptr;
    QLineEdit* exclude_field = nullptr;
    QPushButton* find_button = nullptr;
    QPushButton* replace_button = nullptr;
    QPushButton* stop_button = nullptr;
    QLabel* progress_label = nullptr;
    QLabel* summary_label = nullptr;
    QTreeWidget* results_tree = nullptr;

signals:
    void searchFinished();
    void replaceFinished();
    // The question of a Replace All is up (for observers such as tests).
    void replaceAsked();

private:
    // The open document windows of this server, by the provider path of their file.
    std::map<std::string, DocumentInterfaceManager*> open_documents() const;
    void begin_search(sitesearch::SearchQuery query, std::map<std::string, std::string> editor_texts);
    void add_result(sitesearch::FileHits hits);
    void show_progress(sitesearch::SearchProgress progress);
    void search_ended(sitesearch::SearchSummary summary);
    void replace_in_editors(std::vector<sitesearch::FileHits> files, std::shared_ptr<sitesearch::ReplaceSummary> summary,
                            std::function<void()> then);
    void replace_ended(sitesearch::ReplaceSummary summary);
    void update_buttons();
    std::string service_id() const;

    QPointer<VornFileViewerSceneDelegateProtocol> file_viewer_;
    std::shared_ptr<sitesearch::SiteSearch> search_;
    std::shared_ptr<sitesearch::SiteReplace> replace_;
    bool gathering_ = false;  // the open documents' texts are being asked for
    bool replacing_editors_ = false;
    bool stop_asked_ = false;
    std::uint64_t generation_ = 0;  // raised by every search: reports of an older one are dropped
    sitesearch::SearchQuery last_query_;
    std::string searched_service_;  // the server the results are of
    std::vector<sitesearch::FileHits> hits_;
    // The latest progress, shown once per turn of the main queue.
    std::optional<sitesearch::SearchProgress> progress_due_;
};
