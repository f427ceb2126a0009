#include "tandrel/scenes/SiteSearchWindow.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPoint>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <mutex>

#include "platform/dispatch/Dispatch.h"
#include "platform/files/RemotePath.h"
#include "tandrel/editor/DocumentInterfaceManager.h"
#include "tandrel/foundation/VornFileViewerSceneDelegateProtocol.h"
#include "tandrel/foundation/VornProviderErrors.h"
#include "tandrel/foundation/VornServerFilesDataModel.h"
#include "tandrel/scenes/DocumentScene.h"
#include "tandrel/scenes/SceneManager.h"
#include "tandrel/scenes/SiteSearchResultDelegate.h"
#include "tandrel/servers/VornFileViewController.h"

namespace {

constexpr int kFileRole = Qt::UserRole + 1;  // the index of the file in the results
constexpr int kLineRole = Qt::UserRole + 2;  // the index of the line in its file; -1 for the file's group

QList<QPointer<SiteSearchWindow>>& open_windows() {
    static QList<QPointer<SiteSearchWindow>> windows;
    return windows;
}

// UTF-16 units of a UTF-8 text (as Qt and the editor count).
std::size_t utf16_length(std::string_view utf8) {
    return static_cast<std::size_t>(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())).size());
}

QString plural(std::size_t n, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(n).arg(QString::fromLatin1(n == 1 ? one : many));
}

QString matches_in_files(std::size_t matches, std::size_t files) {
    return plural(matches, "match", "matches") + QStringLiteral(" in ") + plural(files, "file", "files");
}

// Where a match stands in the editor: its line's row, and column and length in UTF-16 units.
DocumentInterfaceManager::TextSpot spot_of(const sitesearch::LineHit& line, const sitesearch::MatchSpan& span) {
    const std::string_view text = line.text;
    return {line.line - 1, utf16_length(text.substr(0, span.offset)), utf16_length(text.substr(span.offset, span.length))};
}

}  // namespace

// ---- the window ----------------------------------------------------------------------------------

QString SiteSearchWindow::title_for(const std::string& nickname) {
    return QStringLiteral("Find in Site \u2014 ") + QString::fromStdString(nickname);
}

std::shared_ptr<sitesearch::SiteSearchCache> SiteSearchWindow::cache_for(const std::string& service_id) {
    static std::mutex mutex;
    static std::map<std::string, std::shared_ptr<sitesearch::SiteSearchCache>> caches;
    std::lock_guard lock(mutex);
    auto& cache = caches[service_id];
    if (!cache) cache = std::make_shared<sitesearch::SiteSearchCache>();
    return cache;
}

SiteSearchWindow* SiteSearchWindow::window_for(const VornFileViewerSceneDelegateProtocol* file_viewer) {
    for (const auto& window : open_windows()) {
        if (window && window->file_viewer_ == file_viewer) return window;
    }
    return nullptr;
}

SiteSearchWindow* SiteSearchWindow::open_for(VornFileViewerSceneDelegateProtocol* file_viewer) {
    if (!file_viewer) return nullptr;
    SiteSearchWindow* window = window_for(file_viewer);
    if (!window) {
        window = new SiteSearchWindow(file_viewer);
        open_windows().append(window);
    }
    window->show();
    window->raise();
    window->activateWindow();
    window->find_field->setFocus();
    window->find_field->selectAll();
    return window;
}

SiteSearchWindow::SiteSearchWindow(VornFileViewerSceneDelegateProtocol* file_viewer)
    : QWidget(nullptr, Qt::Window), file_viewer_(file_viewer) {
    setAttribute(Qt::WA_DeleteOnClose);
    const auto service = file_viewer ? file_viewer->service : nullptr;
    setWindowTitle(title_for(service ? service->nickname : std::string()));
    resize(760, 600);

    auto named_field = [this](const char* name) {
        auto* field = new QLineEdit(this);
        field->setAccessibleName(QString::fromLatin1(name));
        return field;
    };
    find_field = named_field("Find");
    replace_field = named_field("Replace");
    folder_field = named_field("Folder");
    include_field = named_field("Include");
    exclude_field = named_field("Exclude");
    include_field->setPlaceholderText(QStringLiteral("*.html, *.php (all text files when empty)"));
    exclude_field->setText(QString::fromLatin1(sitesearch::SiteFileFilter::kDefaultExcludes));
    const std::string root =
        service && service->web_root && !service->web_root->empty() ? files::path::normalize(*service->web_root) : "/";
    folder_field->setText(QString::fromStdString(root));

    match_case = new QCheckBox(QStringLiteral("Match case"), this);
    whole_word = new QCheckBox(QStringLiteral("Whole word"), this);
    regular_expression = new QCheckBox(QStringLiteral("Regular expression"), this);
    find_button = new QPushButton(QStringLiteral("Find"), this);
    replace_button = new QPushButton(QStringLiteral("Replace All"), this);
    stop_button = new QPushButton(QStringLiteral("Stop"), this);
    progress_label = new QLabel(this);
    summary_label = new QLabel(this);
    summary_label->setWordWrap(true);
    summary_label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    results_tree = new QTreeWidget(this);
    results_tree->setAccessibleName(QStringLiteral("Results"));
    results_tree->setHeaderHidden(true);
    results_tree->setUniformRowHeights(true);
    results_tree->setItemDelegate(new SiteSearchResultDelegate(results_tree));

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Find:"), find_field);
    form->addRow(QStringLiteral("Replace:"), replace_field);
    auto* options = new QHBoxLayout;
    options->addWidget(match_case);
    options->addWidget(whole_word);
    options->addWidget(regular_expression);
    options->addStretch();
    form->addRow(QString(), options);
    form->addRow(QStringLiteral("Folder:"), folder_field);
    form->addRow(QStringLiteral("Include:"), include_field);
    form->addRow(QStringLiteral("Exclude:"), exclude_field);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(progress_label, 1);
    buttons->addWidget(stop_button);
    buttons->addWidget(replace_button);
    buttons->addWidget(find_button);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addWidget(summary_label);
    layout->addWidget(results_tree, 1);

    connect(find_field, &QLineEdit::returnPressed, this, &SiteSearchWindow::start_search);
    connect(find_button, &QPushButton::clicked, this, &SiteSearchWindow::start_search);
    connect(replace_button, &QPushButton::clicked, this, &SiteSearchWindow::replace_all);
    connect(stop_button, &QPushButton::clicked, this, &SiteSearchWindow::stop);
    connect(results_tree, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) { open_result(item); });
    // The window goes with its server window.
    if (file_viewer) connect(file_viewer, &QObject::destroyed, this, &QWidget::close);
    update_buttons();
}

SiteSearchWindow::~SiteSearchWindow() {
    if (search_) search_->stop();
    if (replace_) replace_->stop();
    open_windows().removeAll(QPointer<SiteSearchWindow>(this));
}

std::string SiteSearchWindow::service_id() const {
    return file_viewer_ && file_viewer_->service ? file_viewer_->service->id : std::string();
}

void SiteSearchWindow::update_buttons() {
    const bool busy = running() || replacing_editors_;
    stop_button->setEnabled(busy);
    replace_button->setEnabled(!busy && !hits_.empty());
    find_button->setEnabled(!replace_ && !replacing_editors_);
}

std::map<std::string, DocumentInterfaceManager*> SiteSearchWindow::open_documents() const {
    std::map<std::string, DocumentInterfaceManager*> out;
    const std::string id = service_id();
    for (DocumentScene* scene : SceneManager::document_scenes()) {
        auto* delegate = qobject_cast<DocumentSceneDelegate*>(scene->delegate());
        if (!delegate || !delegate->doc_int_man) continue;
        DocumentInterfaceManager* document = delegate->doc_int_man.get();
        const auto& info = document->my_current_editor_info;
        if (info.service_session_id != id || document->file_server_delegatex != file_viewer_) continue;
        if (auto path = document->current_file_path()) out[*path] = document;
    }
    return out;
}

// ---- searching ---------------------------------------------------------------------------------------

void SiteSearchWindow::start_search() {
    if (replace_ || replacing_editors_) return;
    if (search_) search_->stop();
    search_.reset();
    ++generation_;
    stop_asked_ = false;
    hits_.clear();
    results_tree->clear();
    summary_label->clear();
    progress_label->setText(QStringLiteral("Searching\u2026"));

    sitesearch::SearchQuery query;
    query.text = find_field->text().toStdString();
    query.options.matchCase = match_case->isChecked();
    query.options.wholeWord = whole_word->isChecked();
    query.options.regularExpression = regular_expression->isChecked();
    query.folder = folder_field->text().trimmed().toStdString();
    query.includes = include_field->text().toStdString();
    query.excludes = exclude_field->text().toStdString();
    last_query_ = query;
    searched_service_ = service_id();
    if (file_viewer_ && file_viewer_->service) setWindowTitle(title_for(file_viewer_->service->nickname));

    // The texts of open documents with unsaved changes come from their editors first.
    std::vector<std::pair<std::string, DocumentInterfaceManager*>> changed;
    for (const auto& [path, document] : open_documents()) {
        if (document->my_current_editor_info.has_changes) changed.emplace_back(path, document);
    }
    gathering_ = true;
    update_buttons();
    struct Gathered {
        std::map<std::string, std::string> texts;
        std::size_t waiting = 0;
    };
    auto gathered = std::make_shared<Gathered>();
    gathered->waiting = changed.size() + 1;
    QPointer<SiteSearchWindow> self(this);
    const std::uint64_t generation = generation_;
    auto one_done = [self, gathered, generation, query]() {
        if (--gathered->waiting > 0 || !self || self->generation_ != generation) return;
        self->gathering_ = false;
        self->begin_search(query, std::move(gathered->texts));
    };
    for (const auto& [path, document] : changed) {
        document->current_text([gathered, path = path, one_done](std::optional<std::string> text) {
            if (text) gathered->texts[path] = std::move(*text);
            one_done();
        });
    }
    one_done();
}

void SiteSearchWindow::begin_search(sitesearch::SearchQuery query, std::map<std::string, std::string> editor_texts) {
    QPointer<SiteSearchWindow> self(this);
    const std::uint64_t generation = generation_;
    auto current = [self, generation] { return self && self->generation_ == generation; };
    sitesearch::SearchHandlers handlers;
    handlers.found = [self, current](sitesearch::FileHits hits) {
        dispatch::mainQueue().async([self, current, hits = std::move(hits)]() mutable {
            if (current()) self->add_result(std::move(hits));
        });
    };
    handlers.progress = [self, current](sitesearch::SearchProgress progress) {
        dispatch::mainQueue().async([self, current, progress] {
            if (current()) self->show_progress(progress);
        });
    };
    handlers.finished = [self, current](sitesearch::SearchSummary summary) {
        dispatch::mainQueue().async([self, current, summary = std::move(summary)]() mutable {
            if (current()) self->search_ended(std::move(summary));
        });
    };
    auto provider = file_viewer_ ? file_viewer_->provider_as_read_write() : nullptr;
    auto cache = provider ? cache_for(service_id()) : nullptr;
    search_ = sitesearch::SiteSearch::start(std::move(provider), std::move(cache), std::move(query),
                                            std::move(editor_texts), std::move(handlers));
    update_buttons();
}

void SiteSearchWindow::add_result(sitesearch::FileHits hits) {
    const int file_index = static_cast<int>(hits_.size());
    auto* group = new QTreeWidgetItem(results_tree);
    group->setText(0, QStringLiteral("%1 (%2)")
                          .arg(QString::fromStdString(hits.relativePath))
                          .arg(hits.matches.size()));
    group->setData(0, kFileRole, file_index);
    group->setData(0, kLineRole, -1);
    for (std::size_t i = 0; i < hits.lines.size(); ++i) {
        const auto& line = hits.lines[i];
        const QString prefix = QStringLiteral("%1: ").arg(line.line);
        auto* row = new QTreeWidgetItem(group);
        row->setText(0, prefix + QString::fromStdString(line.text));
        QVariantList spans;
        for (const auto& span : line.spans) {
            const auto spot = spot_of(line, span);
            spans.append(QPoint(static_cast<int>(prefix.size() + spot.column), static_cast<int>(spot.length)));
        }
        row->setData(0, SiteSearchResultDelegate::kSpansRole, spans);
        row->setData(0, kFileRole, file_index);
        row->setData(0, kLineRole, static_cast<int>(i));
    }
    group->setExpanded(true);
    hits_.push_back(std::move(hits));
    update_buttons();
}

void SiteSearchWindow::show_progress(sitesearch::SearchProgress progress) {
    progress_label->setText(QStringLiteral("Read %1 of %2 files").arg(progress.filesRead).arg(progress.filesFound));
}

void SiteSearchWindow::search_ended(sitesearch::SearchSummary summary) {
    search_.reset();
    if (summary.error) {
        progress_label->clear();
        summary_label->setText(QString::fromStdString(*summary.error));
    } else {
        show_progress(summary.progress);
        QString text = matches_in_files(summary.matches, summary.files);
        if (summary.stopped) text += QStringLiteral(" (stopped)");
        if (summary.unreadable) text += QStringLiteral("; ") + plural(summary.unreadable, "item", "items") +
                                        QStringLiteral(" could not be read");
        summary_label->setText(text);
    }
    update_buttons();
    emit searchFinished();
}

void SiteSearchWindow::stop() {
    stop_asked_ = true;
    if (search_) search_->stop();
    if (replace_) replace_->stop();
    if (gathering_) {
        ++generation_;
        gathering_ = false;
        progress_label->clear();
        update_buttons();
        emit searchFinished();
    }
}

// ---- opening a result ------------------------------------------------------------------------------

void SiteSearchWindow::open_result(QTreeWidgetItem* item) {
    if (!item || !file_viewer_) return;
    const int file_index = item->data(0, kFileRole).toInt();
    int line_index = item->data(0, kLineRole).toInt();
    if (file_index < 0 || static_cast<std::size_t>(file_index) >= hits_.size()) return;
    const sitesearch::FileHits& hits = hits_[static_cast<std::size_t>(file_index)];
    if (line_index < 0) line_index = 0;
    if (hits.lines.empty() || static_cast<std::size_t>(line_index) >= hits.lines.size()) return;
    const auto& line = hits.lines[static_cast<std::size_t>(line_index)];
    const auto spot = spot_of(line, line.spans.front());
    const std::string path = hits.file->path;
    const std::string id = service_id();
    const std::string bucket = file_bucket_id_for_path(path);
    QPointer<VornFileViewerSceneDelegateProtocol> viewer = file_viewer_;
    SceneManager::open_document_scene(id, bucket, VornFileViewController::preview_supported_for_path(path),
                                      [viewer](const VornError& error) {
                                          if (viewer) viewer->show_error(error);
                                      });
    // The window opens (or its window comes forward) on the main queue's next turns; the match is
    // selected in it once its editor shows the file.
    dispatch::mainQueue().async([id, bucket, spot] {
        for (DocumentScene* scene : SceneManager::document_scenes()) {
            auto* delegate = qobject_cast<DocumentSceneDelegate*>(scene->delegate());
            if (!delegate || !delegate->doc_int_man) continue;
            const auto& info = delegate->doc_int_man->my_current_editor_info;
            if (info.service_session_id == id && info.file_bucket_id == bucket) {
                delegate->doc_int_man->reveal_text(spot);
                return;
            }
        }
    });
}

// ---- replacing -------------------------------------------------------------------------------------

void SiteSearchWindow::replace_all() {
    if (running() || replacing_editors_ || hits_.empty()) return;
    std::size_t matches = 0;
    for (const auto& hits : hits_) matches += hits.matches.size();
    auto* question = new QMessageBox(QMessageBox::Question, QStringLiteral("Replace All"),
                                     QStringLiteral("Replace ") + matches_in_files(matches, hits_.size()) + QStringLiteral("?"),
                                     QMessageBox::NoButton, this);
    question->setAttribute(Qt::WA_DeleteOnClose);
    QPushButton* go = question->addButton(QStringLiteral("Replace All"), QMessageBox::AcceptRole);
    question->addButton(QMessageBox::Cancel);
    question->setDefaultButton(go);
    QPointer<SiteSearchWindow> self(this);
    connect(question, &QMessageBox::buttonClicked, this, [self, go](QAbstractButton* clicked) {
        if (self && clicked == go) self->replace_confirmed();
    });
    question->open();
    emit replaceAsked();
}

void SiteSearchWindow::replace_confirmed() {
    if (running() || replacing_editors_ || hits_.empty()) return;
    if (service_id() != searched_service_ || !file_viewer_) {
        // The results are another server's: nothing of them is written here.
        summary_label->setText(QStringLiteral("The server window is connected to another server now; nothing was "
                                              "replaced. Search again."));
        hits_.clear();
        results_tree->clear();
        update_buttons();
        emit replaceFinished();
        return;
    }
    stop_asked_ = false;
    const auto documents = open_documents();
    std::vector<sitesearch::FileHits> in_editors, on_server;
    for (const auto& hits : hits_) {
        (documents.count(hits.file->path) || hits.file->fromEditor ? in_editors : on_server).push_back(hits);
    }
    auto summary = std::make_shared<sitesearch::ReplaceSummary>();
    replacing_editors_ = true;
    progress_label->setText(QStringLiteral("Replacing\u2026"));
    update_buttons();
    QPointer<SiteSearchWindow> self(this);
    replace_in_editors(std::move(in_editors), summary, [self, summary, on_server = std::move(on_server)]() mutable {
        if (!self) return;
        self->replacing_editors_ = false;
        if (self->stop_asked_) {
            summary->stopped = !on_server.empty();
            summary->notStarted = on_server.size();
            return self->replace_ended(*summary);
        }
        // Each file goes through the server window's one save road, expecting the version searched.
        QPointer<VornFileViewerSceneDelegateProtocol> viewer = self->file_viewer_;
        sitesearch::SaveRoad save = [viewer](std::shared_ptr<const sitesearch::SiteFileText> searched, std::string bytes,
                                             std::function<void(sitesearch::SaveOutcome)> done) {
            dispatch::mainQueue().async([viewer, searched, bytes = std::move(bytes), done]() mutable {
                using Kind = sitesearch::SaveOutcome::Kind;
                if (!viewer) return done({Kind::failed, "The server window was closed; the file was not saved."});
                // `searched->bytes` is the server's copy as the search read it (and as this save
                // expects to find it): the old copy of the file, which the save keeps in the
                // server's history before it replaces it.
                viewer->write_file_text_checked(
                    searched->path, std::move(bytes), files::WriteMode::replace, searched->version,
                    [done](std::optional<files::FileVersion>, std::optional<VornError> error) {
                        if (!error) return done({Kind::written, {}});
                        if (is_file_error(*error, files::ErrorKind::changedOnServer)) return done({Kind::changedOnServer, {}});
                        if (is_file_error(*error, files::ErrorKind::notFound)) return done({Kind::notFound, {}});
                        done({Kind::failed, error->message});
                    },
                    searched->bytes);
            });
        };
        const std::uint64_t generation = self->generation_;
        self->replace_ = sitesearch::SiteReplace::start(
            std::move(on_server), self->last_query_.text, self->last_query_.options, self->replace_field->text().toStdString(),
            std::move(save),
            [self, generation](std::size_t done, std::size_t total) {
                dispatch::mainQueue().async([self, generation, done, total] {
                    if (self && self->generation_ == generation) {
                        self->progress_label->setText(QStringLiteral("Saved %1 of %2 files").arg(done).arg(total));
                    }
                });
            },
            [self, summary](sitesearch::ReplaceSummary saved) {
                dispatch::mainQueue().async([self, summary, saved = std::move(saved)] {
                    if (!self) return;
                    sitesearch::ReplaceSummary all = *summary;
                    all.replaced.insert(all.replaced.end(), saved.replaced.begin(), saved.replaced.end());
                    all.matchesReplaced += saved.matchesReplaced;
                    all.skipped.insert(all.skipped.end(), saved.skipped.begin(), saved.skipped.end());
                    all.notStarted = saved.notStarted;
                    all.stopped = saved.stopped;
                    self->replace_ended(std::move(all));
                });
            });
        self->update_buttons();
    });
}

void SiteSearchWindow::replace_in_editors(std::vector<sitesearch::FileHits> files,
                                          std::shared_ptr<sitesearch::ReplaceSummary> summary, std::function<void()> then) {
    if (files.empty()) return then();
    sitesearch::FileHits hits = std::move(files.back());
    files.pop_back();
    QPointer<SiteSearchWindow> self(this);
    auto next = [self, files = std::move(files), summary, then]() mutable {
        if (self) self->replace_in_editors(std::move(files), summary, std::move(then));
    };
    const auto documents = open_documents();
    const auto it = documents.find(hits.file->path);
    auto skip = [summary, &hits, &next](const char* why) {
        summary->skipped.push_back({hits.relativePath, why});
        next();
    };
    if (it == documents.end()) return skip("Its document window was closed.");
    QPointer<DocumentInterfaceManager> document(it->second);
    const std::string replacement = replace_field->text().toStdString();
    it->second->current_text([self, document, hits, summary, next, replacement](std::optional<std::string> text) mutable {
        if (!self || !document) return next();
        if (!text || *text != hits.file->text.utf8) {
            summary->skipped.push_back({hits.relativePath, "Changed in its document window since the search."});
            return next();
        }
        sitesearch::SitePattern pattern(self->last_query_.text, self->last_query_.options);
        // One edit per match: the lines' spans stand in the order of the matches, one each.
        std::vector<std::pair<DocumentInterfaceManager::TextSpot, std::string>> edits;
        for (const auto& line : hits.lines) {
            for (const auto& span : line.spans) edits.emplace_back(spot_of(line, span), std::string());
        }
        const std::string& searched = hits.file->text.utf8;
        for (std::size_t i = 0; i < edits.size() && i < hits.matches.size(); ++i) {
            const auto& match = hits.matches[i];
            // A match that goes on past its line's end cannot be an edit within one line.
            if (searched.find_first_of("\r\n", match.offset) < match.offset + match.length) {
                summary->skipped.push_back({hits.relativePath, "A match spans lines; it was left as it is."});
                return next();
            }
            edits[i].second = pattern.replacementFor(searched, match, replacement);
        }
        const std::size_t count = edits.size();
        document->replace_spots(std::move(edits), [hits, summary, next, count](bool went_in) mutable {
            if (went_in) {
                summary->replaced.push_back(hits.relativePath);
                summary->matchesReplaced += count;
            } else {
                summary->skipped.push_back({hits.relativePath, "Its editor did not take the replacement."});
            }
            next();
        });
    });
}

void SiteSearchWindow::replace_ended(sitesearch::ReplaceSummary summary) {
    replace_.reset();
    progress_label->clear();
    QString text = QStringLiteral("Replaced ") + matches_in_files(summary.matchesReplaced, summary.replaced.size()) +
                   QStringLiteral(".");
    if (summary.stopped) {
        text += QStringLiteral(" Stopped: ") + plural(summary.notStarted, "file was", "files were") +
                QStringLiteral(" left untouched.");
    }
    if (!summary.skipped.empty()) {
        text += QStringLiteral("\nSkipped ") + plural(summary.skipped.size(), "file", "files") + QStringLiteral(":");
        for (const auto& skip : summary.skipped) {
            text += QStringLiteral("\n") + QString::fromStdString(skip.relativePath) + QStringLiteral(" \u2014 ") +
                    QString::fromStdString(skip.reason);
        }
    }
    summary_label->setText(text);
    // The results named what was there before: they go, and a new search shows what is there now.
    hits_.clear();
    results_tree->clear();
    update_buttons();
    emit replaceFinished();
}
