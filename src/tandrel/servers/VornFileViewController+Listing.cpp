// The file explorer screen: the path bar, directory navigation with the listing request and its
// answer, loading and refreshing.
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QScrollBar>
#include <QSet>
#include <QPushButton>
#include <QScrollArea>
#include <algorithm>
#include <iostream>
#include <utility>

#include <QLabel>

#include "platform/dispatch/Dispatch.h"
#include "platform/files/FileProvider.h"
#include "platform/files/RemotePath.h"
#include "platform/ui/View.h"
#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/foundation/TandrelExtensions.h"
#include "tandrel/foundation/XCol.h"
#include "tandrel/servers/ExplorerListingSource.h"
#include "tandrel/servers/ExplorerStyle.h"
#include "tandrel/servers/FileExplorerListingModel.h"
#include "tandrel/servers/FileViewerScene.h"
#include "tandrel/servers/QuickConnectView.h"
#include "tandrel/servers/ServerScreenWidgets.h"
#include "tandrel/servers/VornConnectorUtilityClass.h"
#include "tandrel/servers/VornFileViewController.h"

namespace {
using Err = EnumManager::vorn_error_throws;
VornError app_error(Err::Case c) { return Err(c); }
}  // namespace

// ---- path bar ---------------------------------------------------------------------------------

std::vector<VornFileViewController::PathSegment> VornFileViewController::path_segments(const std::string& current_dir,
                                                                                      const std::string& root_on_server) {
    std::vector<std::string> components{"ROOT"};
    size_t start = 0;
    while (start <= current_dir.size()) {
        const size_t slash = current_dir.find('/', start);
        const size_t end = slash == std::string::npos ? current_dir.size() : slash;
        if (end > start) components.push_back(current_dir.substr(start, end - start));
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    std::vector<PathSegment> out;
    std::string accumulated;
    for (const std::string& component : components) {
        accumulated += "/" + component;
        PathSegment segment;
        segment.component = component;
        segment.targetDIR = accumulated;
        segment.house = component == "ROOT";
        // The folder's path as the server names it (its case kept): "ROOT" stands for the
        // connection's root, the server's own folder.
        segment.tooltip = "Click to go to '" + files::path::join(root_on_server, path_bar_target(accumulated)) + "'";
        out.push_back(std::move(segment));
    }
    return out;
}

std::string VornFileViewController::path_bar_target(const std::string& targetDIR) {
    static const std::string root = "/ROOT";
    if (targetDIR == root) return "";
    if (targetDIR.rfind(root + "/", 0) == 0) return targetDIR.substr(root.size());
    return targetDIR;
}

std::vector<VornTargetedButton*> VornFileViewController::path_bar_buttons() const {
    std::vector<VornTargetedButton*> out;
    for (QWidget* w : ui::subviews(currentDIR_view)) {
        if (auto* b = dynamic_cast<VornTargetedButton*>(w)) {
            if (!b->property("dravix_removed").toBool()) out.push_back(b);
        }
    }
    return out;
}

void VornFileViewController::build_path_bar() {
    auto* row = qobject_cast<QHBoxLayout*>(currentDIR_view->layout());
    // Clear: the old segments fade out of sight and leave the bar at once.
    for (QWidget* old : ui::subviews(currentDIR_view)) {
        old->setProperty("dravix_removed", true);
        if (row) row->removeWidget(old);
        ui::animateAlpha(old, 0.0, 1.0);
        old->hide();
        old->deleteLater();
    }
    FileViewerSceneDelegate* window = file_window();
    if (!window || !window->my_session_info || !window->my_session_info->connected || !row) return;

    const QColor accent = XCol::teal().resolved();
    // Known once the connection listed its root (before that: its path from there).
    const auto provider = window->provider_as_read_write();
    const std::string root = provider ? provider->rootOnServer().value_or("/") : std::string("/");
    bool first = true;
    for (const PathSegment& segment : path_segments(current_settings.current_dir, root)) {
        if (!first) {
            auto* separator = new QPushButton(QStringLiteral(">"), currentDIR_view);
            separator->setFont(explorer_style::system_font(17));
            separator->setFlat(true);
            separator->setFocusPolicy(Qt::NoFocus);
            separator->setStyleSheet(QStringLiteral("QPushButton { border: none; background: transparent; padding: 0px 2px; "
                                                    "color: rgba(%1,%2,%3,255); }")
                                         .arg(accent.red())
                                         .arg(accent.green())
                                         .arg(accent.blue()));
            separator->setFixedHeight(kRowButtonSide);
            separator->ensurePolished();
            separator->setFixedWidth(separator->sizeHint().width());
            row->insertWidget(row->count() - 1, separator);
        }
        first = false;
        auto* button = new VornTargetedButton(currentDIR_view);
        explorer_style::style_bordered_button(button, accent, 2, accent, 0, 10);
        button->setFont(explorer_style::caption1_font());
        if (segment.house) {
            button->setIcon(ui::Image::systemImage(QStringLiteral("house.fill")).withTintColor(accent).icon());
            button->setIconSize(QSize(20, 20));
        } else {
            button->setText(QString::fromStdString(segment.component));
        }
        button->targetDIR = segment.targetDIR;
        button->setToolTip(QString::fromStdString(segment.tooltip));
        button->setFixedHeight(kRowButtonSide);
        // Each segment keeps the width of its name (at least 44 points); a long path scrolls.
        button->ensurePolished();
        const int full_width = std::max(kRowButtonSide, button->sizeHint().width());
        button->setFixedWidth(full_width);
        // What the segment needs to be whole again after fit_path_bar cut its name short.
        button->setProperty("dravix_full_title", button->text());
        button->setProperty("dravix_full_width", full_width);
        button->setProperty("dravix_title_margin",
                            button->sizeHint().width() - button->fontMetrics().horizontalAdvance(button->text()));
        QPointer<VornFileViewController> self(this);
        QPointer<VornTargetedButton> sender(button);
        connect(button, &QPushButton::clicked, this, [self, sender] {
            if (self && sender) self->goTo_DIR(sender);
        });
        row->insertWidget(row->count() - 1, button);
        if (segment.house) {
            // Stands for the folders left out of a path too long for the bar (fit_path_bar).
            auto* gap = new QLabel(QStringLiteral("> \u2026"), currentDIR_view);
            gap->setObjectName(QStringLiteral("path_bar_gap"));
            gap->setFont(explorer_style::system_font(17));
            gap->setStyleSheet(QStringLiteral("QLabel { padding: 0px 2px; color: rgba(%1,%2,%3,255); }")
                                   .arg(accent.red())
                                   .arg(accent.green())
                                   .arg(accent.blue()));
            gap->setFixedHeight(kRowButtonSide);
            gap->ensurePolished();
            gap->setFixedWidth(gap->sizeHint().width());
            gap->hide();
            row->insertWidget(row->count() - 1, gap);
        }
    }
    update_tab_order();
    fit_path_bar();
}

void VornFileViewController::fit_path_bar() {
    auto* row = qobject_cast<QHBoxLayout*>(currentDIR_view->layout());
    if (!row) return;
    QWidget* gap = nullptr;
    std::vector<QWidget*> items;  // the house, then a separator and a folder for each folder
    for (int i = 0; i < row->count(); ++i) {
        QWidget* w = row->itemAt(i)->widget();
        if (!w || w->property("dravix_removed").toBool()) continue;
        if (w->objectName() == QLatin1String("path_bar_gap")) {
            gap = w;
            continue;
        }
        items.push_back(w);
    }
    if (!gap || items.empty()) return;
    // The current folder first takes back its whole name.
    auto* last = items.size() > 1 ? dynamic_cast<VornTargetedButton*>(items.back()) : nullptr;
    if (last && last->property("dravix_full_width").isValid()) {
        last->setText(last->property("dravix_full_title").toString());
        last->setFixedWidth(last->property("dravix_full_width").toInt());
    }
    int total = 0;
    for (QWidget* w : items) {
        w->show();
        total += w->minimumWidth();
    }
    gap->hide();
    const int room = path_bar_view->viewport()->width();
    if (total <= room || room <= 0) return;
    gap->show();
    total += gap->minimumWidth();
    // Folders go from the first one on, each with its separator; the current folder stays.
    size_t left_out = 0;
    for (size_t i = 1; i + 2 < items.size() && total > room; i += 2) {
        items[i]->hide();
        items[i + 1]->hide();
        total -= items[i]->minimumWidth() + items[i + 1]->minimumWidth();
        ++left_out;
    }
    // The "…" gives way as well when the current folder would otherwise be cut below a plain
    // segment's width.
    const int shortest = last ? std::max(0, last->minimumWidth() - kRowButtonSide) : 0;
    if (left_out == 0 || total - shortest > room) {
        gap->hide();
        total -= gap->minimumWidth();
    }
    if (total <= room || !last) return;
    // Still too long: the current folder's name is cut short (its tooltip keeps the whole path),
    // down to the width of a plain segment.
    const int width = std::max(kRowButtonSide, last->minimumWidth() - (total - room));
    const int margin = last->property("dravix_title_margin").toInt();
    last->setText(last->fontMetrics().elidedText(last->property("dravix_full_title").toString(), Qt::ElideRight,
                                                 std::max(0, width - margin)));
    last->setFixedWidth(width);
}

void VornFileViewController::goTo_DIR(VornTargetedButton* sender) {
    if (!sender) return;
    const std::string target = path_bar_target(sender->targetDIR);
    std::cout << "Debug target dir: " << target << std::endl;
    go_to_directory(target, true);
}

// ---- navigation -------------------------------------------------------------------------------

std::string VornFileViewController::parent_directory(const std::string& current_dir) {
    std::string dir = current_dir;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    if (dir.empty() || dir == "/") return "/";
    const size_t slash = dir.rfind('/');
    if (slash == std::string::npos || slash == 0) return "/";
    return dir.substr(0, slash);
}

void VornFileViewController::begin_loading_on_main(bool show_spinner) {
    QPointer<VornFileViewController> self(this);
    dispatch::mainQueue().async([self, show_spinner] {
        if (self) self->begin_loading(show_spinner);
    });
}

void VornFileViewController::begin_loading(bool show_spinner) {
    if (show_spinner) {
        spinner->startAnimating();
        ui::animateAlpha(spinner, 1.0, 1.0);
    }
    auto& listing = current_settings.currentServerReturnInfo;
    if (listing && listing->fileSections) listing->fileSections = std::vector<std::shared_ptr<VornServerFileDataModel>>{};
    partial_rows_.clear();
    model_->clearRows();
}

void VornFileViewController::finish_loading() {
    loading_ = false;
    ++listings_shown_;
    spinner->stopAnimating();
    if (!partial_rows_.empty()) show_listing_keeping_place(current_settings.currentServerReturnInfo);
    else model_->setListing(current_settings.currentServerReturnInfo);
    partial_rows_.clear();
    for (const auto& [path, size] : std::exchange(written_while_loading_, {})) file_written(path, size);
    if (refreshControl->isRefreshing()) refreshControl->endRefreshing();
}

void VornFileViewController::go_to_directory(const std::string& requested, bool show_spinner) {
    FileViewerSceneDelegate* window = file_window();
    if (!window || !window->provider_bucket) {
        // Nothing to list: whatever shows a wait stops.
        ++listing_request_;
        loading_ = false;
        QPointer<VornFileViewController> self(this);
        dispatch::mainQueue().async([self] {
            if (!self || self->loading_) return;
            self->spinner->stopAnimating();
            if (self->refreshControl->isRefreshing()) self->refreshControl->endRefreshing();
        });
        return;
    }
    begin_loading_on_main(show_spinner);
    std::string path = requested == "../" ? parent_directory(current_settings.current_dir) : requested;
    if (path.empty()) path.push_back('/');  // (an assignment here trips a false -Wrestrict in GCC 12)
    loading_ = true;
    load_directory(*window, path, ++listing_request_);
}

void VornFileViewController::load_directory(const FileViewerSceneDelegate& window, const std::string& path,
                                            uint64_t request) {
    auto provider = explorer_listing_provider(window);
    if (!provider) {
        listing_failed(provider.error(), request);
        return;
    }
    QPointer<VornFileViewController> self(this);
    partial_rows_.clear();
    partial_path_ = path;
    explorer_list_directory(*provider, path,
                            [self, request, path](std::vector<std::shared_ptr<VornServerFileDataModel>> entries) {
                                if (self) self->listing_part_received(request, path, std::move(entries));
                            },
                            [self, request, path](std::shared_ptr<VornServerFilesDataModel> listing,
                                                  std::optional<VornError> error) {
                                dispatch::mainQueue().async([self, request, path, listing, error] {
                                    if (self) self->listing_received(request, path, listing, error);
                                });
                            });
}

void VornFileViewController::listing_received(uint64_t request, const std::string& path,
                                              std::shared_ptr<VornServerFilesDataModel> listing,
                                              std::optional<VornError> error) {
    ++listing_answers_;
    if (request != listing_request_) return;  // a later request is on its way
    // The connection it was asked on is gone (a disconnect came first): no one waits for it.
    FileViewerSceneDelegate* window = file_window();
    if (!window || !window->provider_bucket) return;
    // The header tells the state of the connection in use: the one this answer came over.
    if (auto provider = window->provider_as_read_write(); provider && quickConnectView)
        quickConnectView->show_encryption(provider->connectionEncrypted());
    if (error) return listing_failed(error, request);
    if (!listing) return listing_failed(app_error(Err::no_permission_no_data), request);
    if (!partial_rows_.empty() && listing->fileSections) {
        // The order may have been changed while the folder was loading: the rows take it.
        auto& rows = *listing->fileSections;
        auto up = std::stable_partition(rows.begin(), rows.end(), [](const auto& row) {
            return row && row->special_assignment &&
                   *row->special_assignment == EnumManager::file_special_assignment::up_one_level;
        });
        std::vector<std::shared_ptr<VornServerFileDataModel>> files(up, rows.end());
        VornConnectorUtilityClass::sort_files(files, EnumManager::read_file_explorer_sorting());
        rows.erase(up, rows.end());
        rows.insert(rows.end(), files.begin(), files.end());
    }
    apply_listing(path, listing);
    emit window->remoteFolderListed(std::move(listing));
    // Shown on the next turn, unless another request has started meanwhile.
    QPointer<VornFileViewController> self(this);
    dispatch::mainQueue().async([self, request] {
        if (self && request == self->listing_request_) self->finish_loading();
    });
}

void VornFileViewController::listing_part_received(uint64_t request, const std::string& path,
                                                   std::vector<std::shared_ptr<VornServerFileDataModel>> entries) {
    // A part of a listing the user has left (or that was answered meanwhile) is dropped.
    if (request != listing_request_ || !loading_ || path != partial_path_) return;
    FileViewerSceneDelegate* window = file_window();
    if (!window || !window->provider_bucket) return;
    partial_rows_.insert(partial_rows_.end(), std::make_move_iterator(entries.begin()),
                         std::make_move_iterator(entries.end()));
    show_partial_listing();
}

void VornFileViewController::show_partial_listing() {
    auto listing = std::make_shared<VornServerFilesDataModel>();
    std::vector<std::shared_ptr<VornServerFileDataModel>> rows = partial_rows_;
    VornConnectorUtilityClass::sort_files(rows, EnumManager::read_file_explorer_sorting());
    if (partial_path_ != "/") rows.insert(rows.begin(), VornServerFileDataModel::up_one_level());
    listing->fileCount = static_cast<int64_t>(partial_rows_.size());
    listing->fileSections = std::move(rows);
    ++partial_listings_shown_;
    show_listing_keeping_place(std::move(listing));
}

void VornFileViewController::show_listing_keeping_place(std::shared_ptr<VornServerFilesDataModel> listing) {
    auto path_at = [this](const QModelIndex& index) { return model_->data(index, FileExplorerListingModel::PathRole).toString(); };
    QItemSelectionModel* selection = fileExplorerTableView->selectionModel();
    QSet<QString> selected;
    QString current;
    if (selection) {
        for (const QModelIndex& index : selection->selectedRows()) selected.insert(path_at(index));
        // The keyboard's row, also while the table is without the focus (then put aside).
        if (const QModelIndex row = fileExplorerTableView->keyboardRow(); row.isValid()) current = path_at(row);
    }
    QScrollBar* bar = fileExplorerTableView->verticalScrollBar();
    const int scrolled = bar ? bar->value() : 0;
    model_->setListing(std::move(listing));
    if (selection && (!selected.isEmpty() || !current.isEmpty())) {
        QItemSelection rows;
        for (int row = 0; row < model_->rowCount(); ++row) {
            const QModelIndex index = model_->index(row, 0);
            const QString path = path_at(index);
            if (path.isEmpty()) continue;
            if (selected.contains(path)) rows.select(index, index);
            if (path == current) fileExplorerTableView->setKeyboardRow(index);
        }
        if (!rows.isEmpty()) selection->select(rows, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    if (bar) {
        fileExplorerTableView->doItemsLayout();  // the scroll range of the new rows
        bar->setValue(scrolled);
    }
}

void VornFileViewController::listing_failed(const std::optional<VornError>& error, uint64_t request) {
    // The listing and the path bar stay as they were; the table stays empty.
    written_while_loading_.clear();
    present_error(error);
    QPointer<VornFileViewController> self(this);
    dispatch::mainQueue().async([self, request] {
        if (!self || request != self->listing_request_) return;
        self->loading_ = false;
        self->spinner->stopAnimating();
        if (self->refreshControl->isRefreshing()) self->refreshControl->endRefreshing();
    });
}

void VornFileViewController::apply_listing(const std::string& path, std::shared_ptr<VornServerFilesDataModel> listing) {
    current_settings.currentServerReturnInfo = std::move(listing);
    current_settings.current_dir = path;
    FileViewerSceneDelegate* window = file_window();
    if (window && window->my_session_info) window->my_session_info->current_dir = path;
    // The listing shows at once; a failure to save the window's sessions record is told, but
    // does not hold the listing back.
    QPointer<VornFileViewController> self(this);
    if (window) {
        window->save_service_session([self](std::optional<VornError> error) {
            if (self) self->listing_saved(error);
        });
    }
    build_path_bar();
}

void VornFileViewController::listing_saved(const std::optional<VornError>& error) {
    if (error) present_error(error);
}

void VornFileViewController::refresh_directory_on_main(bool show_spinner) {
    QPointer<VornFileViewController> self(this);
    dispatch::mainQueue().async([self, show_spinner] {
        if (!self) return;
        FileViewerSceneDelegate* window = self->file_window();
        if (!window || !window->my_session_info || !window->my_session_info->current_dir) {
            // Nothing to refresh: the refresh indicator does not spin on.
            if (self->refreshControl->isRefreshing()) self->refreshControl->endRefreshing();
            return;
        }
        const std::string dir = *window->my_session_info->current_dir;
        self->begin_loading_on_main(show_spinner);
        self->go_to_directory(dir, show_spinner);
    });
}

void VornFileViewController::refresh() { refresh_directory_on_main(false); }

void VornFileViewController::reload_visible_sections_on_main() {
    QPointer<VornFileViewController> self(this);
    dispatch::mainQueue().async([self] {
        if (self) self->reload_visible_sections();
    });
}

bool VornFileViewController::file_written(const std::string& path, int64_t size) {
    if (loading_) {
        written_while_loading_.emplace_back(path, size);
        return true;
    }
    auto listing = current_settings.currentServerReturnInfo;
    if (!listing || !listing->fileSections) return false;
    namespace rp = files::path;
    if (rp::normalize(rp::parent(path)) != rp::normalize(current_settings.current_dir)) return false;
    auto& rows = *listing->fileSections;
    const std::string wanted = rp::normalize(path);
    for (const auto& row : rows) {
        if (!row || !row->path || rp::normalize(*row->path) != wanted) continue;
        row->size = size;
        row->modifiedDate = Date::now();
        reload_visible_sections();
        return true;
    }
    files::FileObject written;
    written.name = rp::forDisplay(rp::lastComponent(path));
    written.path = path;
    written.type = files::FileType::regular;
    written.size = size;
    written.modificationDate = std::chrono::system_clock::now();
    written.isHidden = !written.name.empty() && written.name.front() == '.';
    // The up-one-level entry stays first; the files take the listing's order.
    auto up = std::stable_partition(rows.begin(), rows.end(), [](const auto& row) {
        return row && row->special_assignment && *row->special_assignment == EnumManager::file_special_assignment::up_one_level;
    });
    std::vector<std::shared_ptr<VornServerFileDataModel>> files(up, rows.end());
    files.push_back(VornConnectorUtilityClass::convert_entry(written));
    VornConnectorUtilityClass::sort_files(files, EnumManager::read_file_explorer_sorting());
    rows.erase(up, rows.end());
    rows.insert(rows.end(), files.begin(), files.end());
    if (listing->fileCount) ++*listing->fileCount;
    model_->setListing(listing);
    return true;
}

void VornFileViewController::reload_visible_sections() {
    ++visible_reloads_;
    model_->invalidateRows();
    fileExplorerTableView->viewport()->update();
}
