#include "tandrel/servers/VornDeletedFilesViewController.h"

#include <QLocale>
#include <algorithm>

#include "platform/dispatch/Dispatch.h"
#include "platform/files/RemotePath.h"
#include "platform/text/TextEncoding.h"
#include "tandrel/foundation/EnumManager.h"
#include "tandrel/foundation/KeptCopiesSheet.h"
#include "tandrel/foundation/VORNPresenterUtility.h"
#include "tandrel/foundation/VornServerFilesDataModel.h"
#include "tandrel/servers/ExplorerListingSource.h"
#include "tandrel/servers/FileViewerScene.h"

namespace {

using Err = EnumManager::vorn_error_throws;
namespace rp = files::path;

QString display_name(const std::string& path) { return QString::fromStdString(rp::forDisplay(rp::lastComponent(path))); }

QString quoted(const QString& text) { return QStringLiteral("\u201C%1\u201D").arg(text); }

}  // namespace

VornDeletedFilesViewController::VornDeletedFilesViewController(QPointer<FileViewerSceneDelegate> window, std::string folder,
                                                               VornFileHistory& history)
    : window_(std::move(window)), folder_(std::move(folder)), history_(history) {
    if (window_ && window_->service) service_id_ = window_->service->id;
    setTitle(QString::fromLatin1(kTitle));
    setPreferredContentSize(QSize(820, 520));
}

std::vector<std::string> VornDeletedFilesViewController::listed_paths() const {
    std::vector<std::string> out;
    for (const auto& file : files_shown_) out.push_back(file.path);
    return out;
}

void VornDeletedFilesViewController::loadView() {
    auto sheet = KeptCopiesSheet::make({{QStringLiteral("Deleted files"), 220}, {QStringLiteral("Kept copies"), 220}},
                                       QStringLiteral("Kept copy"), QString::fromLatin1(kRestore));
    note_ = sheet.note;
    files_ = sheet.lists[0];
    copies_ = sheet.lists[1];
    copy_view_ = sheet.text;
    done_button_ = sheet.done;
    restore_button_ = sheet.restore;
    restore_button_->setEnabled(false);
    setView(sheet.root);
}

void VornDeletedFilesViewController::viewDidLoad() {
    QPointer<VornDeletedFilesViewController> self(this);
    connect(files_, &QListWidget::currentRowChanged, this, [self](int) {
        if (self) self->show_copies();
    });
    connect(copies_, &QListWidget::currentRowChanged, this, [self](int) {
        if (self) self->show_selected_copy();
    });
    connect(done_button_, &QPushButton::clicked, this, [self] {
        if (self) self->dismissViewControllerAnimated(true);
    });
    connect(restore_button_, &QPushButton::clicked, this, [self] {
        if (self) self->restore_selected();
    });

    note_->setText(QStringLiteral("Reading what the history keeps of %1\u2026")
                       .arg(quoted(QString::fromStdString(rp::forDisplay(folder_)))));
    // The history's files of the folder, read on its queue, and the folder as the server lists it
    // now: the list is what the first has and the second has not.
    history_.files_in(service_id_, folder_, [self](std::vector<VornFileHistory::KeptFile> files) {
        dispatch::mainQueue().async([self, files = std::move(files)]() mutable {
            if (self) self->history_read(std::move(files));
        });
    });
    FileViewerSceneDelegate* window = window_.data();
    auto provider = window ? explorer_listing_provider(*window)
                           : Expected<std::shared_ptr<files::FileProvider>>(VornError(Err(Err::guardReturnNoFileProvider)));
    if (!provider || service_id_.empty()) {
        const VornError error = provider ? VornError(Err(Err::guardReturnNoFileProvider)) : provider.error();
        dispatch::mainQueue().async([self, error] {
            if (self) self->folder_listed(std::nullopt, error);
        });
        return;
    }
    explorer_list_directory(*provider, folder_,
                            [self](std::shared_ptr<VornServerFilesDataModel> listing, std::optional<VornError> error) {
                                if (!self) return;
                                if (error || !listing) {
                                    return self->folder_listed(std::nullopt,
                                                               error ? *error : VornError(Err(Err::no_permission_no_data)));
                                }
                                std::vector<std::string> paths;
                                if (listing->fileSections) {
                                    for (const auto& entry : *listing->fileSections) {
                                        if (entry && entry->path) paths.push_back(rp::normalize(*entry->path));
                                    }
                                }
                                self->folder_listed(std::move(paths), std::nullopt);
                            });
}

void VornDeletedFilesViewController::history_read(std::vector<VornFileHistory::KeptFile> files) {
    kept_ = std::move(files);
    show_files_when_ready();
}

void VornDeletedFilesViewController::folder_listed(std::optional<std::vector<std::string>> paths,
                                                   std::optional<VornError> error) {
    if (error) {
        // Without the folder's listing nothing tells which kept files are gone from it.
        listed_ = true;
        note_->setText(QStringLiteral("The folder %1 could not be listed.")
                           .arg(quoted(QString::fromStdString(rp::forDisplay(folder_)))));
        VORNPresenterUtility::present_error(this, error, "OK");
        return;
    }
    on_server_ = std::move(paths);
    show_files_when_ready();
}

void VornDeletedFilesViewController::show_files_when_ready() {
    if (!kept_ || !on_server_ || listed_) return;
    for (auto& file : *kept_) {
        const std::string path = rp::normalize(file.path);
        if (std::find(on_server_->begin(), on_server_->end(), path) != on_server_->end()) continue;
        files_shown_.push_back(std::move(file));
    }
    kept_.reset();
    listed_ = true;
    if (files_shown_.empty()) {
        note_->setText(QString::fromLatin1(kNoFiles));
        return;
    }
    note_->setText(QStringLiteral("Files of %1 that are not on the server now, and the copies of them the history "
                                  "keeps, newest first.")
                       .arg(quoted(QString::fromStdString(rp::forDisplay(folder_)))));
    for (const auto& file : files_shown_) files_->addItem(display_name(file.path));
    files_->setCurrentRow(0);
}

const VornFileHistory::KeptFile* VornDeletedFilesViewController::selected_file() const {
    const int row = files_ ? files_->currentRow() : -1;
    if (row < 0 || row >= static_cast<int>(files_shown_.size())) return nullptr;
    return &files_shown_[static_cast<std::size_t>(row)];
}

const VornFileHistory::Version* VornDeletedFilesViewController::selected_copy() const {
    const auto* file = selected_file();
    const int row = copies_ ? copies_->currentRow() : -1;
    if (!file || row < 0 || row >= static_cast<int>(file->versions.size())) return nullptr;
    return &file->versions[static_cast<std::size_t>(row)];
}

void VornDeletedFilesViewController::show_copies() {
    const QSignalBlocker quiet(copies_);
    copies_->clear();
    if (const auto* file = selected_file()) {
        for (const auto& version : file->versions) copies_->addItem(QString::fromStdString(VornFileHistory::describe(version)));
        copies_->setCurrentRow(0);
    }
    show_selected_copy();
}

void VornDeletedFilesViewController::show_selected_copy() {
    ++copy_request_;
    shown_bytes_.reset();
    update_restore_button();
    const auto* copy = selected_copy();
    if (!copy) {
        copy_view_->clear();
        return;
    }
    copy_view_->setPlainText(QStringLiteral("Reading the copy\u2026"));
    // Read and decoded on the history's queue: a copy may be as large as the history allows.
    QPointer<VornDeletedFilesViewController> self(this);
    const uint64_t request = copy_request_;
    const std::string name = selected_file()->path;
    history_.read_later(*copy, [self, request, name](std::optional<std::string> bytes) {
        std::shared_ptr<const std::string> kept;
        std::optional<std::string> text;
        if (bytes) {
            auto read = textcodec::decodeText(*bytes, name);
            if (reads_as_text(read, *bytes)) text = std::move(read.utf8);
            kept = std::make_shared<const std::string>(std::move(*bytes));
        }
        dispatch::mainQueue().async([self, request, kept = std::move(kept), text = std::move(text)]() mutable {
            if (self) self->copy_read(request, std::move(kept), std::move(text));
        });
    });
}

void VornDeletedFilesViewController::copy_read(uint64_t request, std::shared_ptr<const std::string> bytes,
                                               std::optional<std::string> text) {
    if (request != copy_request_) return;  // another copy was selected meanwhile
    if (!bytes) {
        copy_view_->setPlainText(QStringLiteral("This copy cannot be read from the history."));
        return;
    }
    if (text) {
        copy_view_->setPlainText(QString::fromStdString(*text));
    } else {
        copy_view_->setPlainText(QStringLiteral("This copy is not text (%1). Restore puts its bytes back as they were.")
                                     .arg(QLocale::c().formattedDataSize(static_cast<qint64>(bytes->size()), 1,
                                                                          QLocale::DataSizeSIFormat)));
    }
    shown_bytes_ = std::move(bytes);
    update_restore_button();
}

void VornDeletedFilesViewController::update_restore_button() {
    if (restore_button_) restore_button_->setEnabled(shown_bytes_ && !restoring_);
}

void VornDeletedFilesViewController::restore_selected() {
    const auto* file = selected_file();
    if (!file || !shown_bytes_ || restoring_) return;
    const std::string path = file->path;
    FileViewerSceneDelegate* window = window_.data();
    if (!window) return restore_finished(path, VornError(Err(Err::guardReturnNoFileProvider)));
    restoring_ = true;
    update_restore_button();
    QPointer<VornDeletedFilesViewController> self(this);
    QPointer<FileViewerSceneDelegate> weak_window(window);
    // A new file, never over one that is there: the server refuses a name that is taken.
    window->write_file_text_checked(path, *shown_bytes_, files::WriteMode::createNew, std::nullopt,
                                    [self, weak_window, path](std::optional<files::FileVersion>, std::optional<VornError> error) {
                                        // Whatever the answer, the window shows what is there now.
                                        if (weak_window) weak_window->reload_explorer_directory_on_main(true);
                                        if (self) self->restore_finished(path, error);
                                    });
}

void VornDeletedFilesViewController::restore_finished(const std::string& path, const std::optional<VornError>& error) {
    restoring_ = false;
    ++restores_finished_;
    update_restore_button();
    if (error) {
        VORNPresenterUtility::present_error(this, error, "OK");
        return;
    }
    note_->setText(QStringLiteral("%1 is on the server again.").arg(quoted(display_name(path))));
}
