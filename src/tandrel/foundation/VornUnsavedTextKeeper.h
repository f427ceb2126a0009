#pragma once
// Unsaved text kept on disk. While a document holds changes that no write saved, the editor
// page's state of it (its whole text) lies in a file of its own under the app's data folder, in
// "Unsaved", so a crash or a kill of the app loses none of it; the next launch reopens each kept
// document (UnsavedRestore, in the scene layer). A save or a discard removes the kept copy.
//
// One file per document, named by a digest of its server's id and its editing session's id (a
// session id is Base64 of a remote path and can be longer than a file name may be). It holds a
// JSON object: "service_id", "session_id", "file_path", "server_name" (for telling the user
// whose file it was), "saved_count" (the page's change count that the last successful write
// saw), "state" (the page's serialised session, as the sessions store keeps it, its text under
// "value") and, when known, "server_version" (the server's copy the text was edited from, as the
// sessions store writes it, so that the first save after a restart still checks it) and, when
// known, "text_format" (the file's encoding, BOM and line endings, as the sessions store writes
// it, so that a restored file is saved as it was read: a Shift_JIS file as Shift_JIS) and, when
// known, "base" (the server's copy the text was edited from, as text: VornDocumentBase, so that a
// save after a restart can still merge with a change made on the server meanwhile). Readers take
// what they know and need only the ids and the state.
//
// Every write is atomic (temporary file + rename) and runs on the keeper's serial queue in the
// order asked, so a removal asked after a write is never undone by it. A kept file that cannot be
// read is kept aside ("<name>.bad-<time>") and leaves the folder: no later launch trips on it again.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "platform/files/FileProvider.h"
#include "platform/text/TextEncoding.h"
#include "tandrel/foundation/VornDocumentBase.h"
#include "tandrel/foundation/VornError.h"

// One document's kept text.
struct VornKeptDocument {
    std::string service_id;
    std::string session_id;
    std::string file_path;
    std::string server_name;
    int64_t saved_count = 0;
    std::string state;
    files::FileVersion server_version;  // empty when not known
    std::optional<textcodec::TextFormat> text_format;  // none when not known (UTF-8)
    std::shared_ptr<const VornDocumentBase> base;       // none when not known
    // Where it lies (set when read from the folder).
    std::filesystem::path file;

    // The text of the document: the state's "value".
    std::optional<std::string> text() const;
    // The state's change count ("undo_count"), when it has one.
    std::optional<int64_t> page_count() const;
};

class VornUnsavedTextKeeper {
public:
    VornUnsavedTextKeeper();
    // The process-wide keeper. Kept copies asked for before the process ends are written before
    // it goes (within the exit bound).
    static VornUnsavedTextKeeper& shared();

    // How long after the first change not yet kept the page is asked for its text: the text is
    // on disk within two seconds of any change, with the rest of them left for the page's answer
    // and the write on a busy machine (they took over a second there).
    static constexpr std::chrono::milliseconds kKeepDelay{500};
    // The folder's name under the app's data folder.
    static constexpr const char* kFolderName = "Unsaved";

    dispatch::SerialQueue queue{"keep_unsaved_text"};
    // The folder of the kept files: when unset, "Unsaved" in the app's data folder (nothing is
    // kept while there is none).
    std::optional<std::filesystem::path> folder;
    std::optional<std::filesystem::path> current_folder() const;

    // The file name of a document's kept copy.
    static std::string file_name(const std::string& service_id, const std::string& session_id);
    std::optional<std::filesystem::path> file_for(const std::string& service_id, const std::string& session_id) const;

    // Writes the document's kept copy on the queue; `done` runs there with the outcome.
    void keep(VornKeptDocument document, std::function<void(std::optional<VornError>)> done = nullptr);
    // Removes the document's kept copy on the queue (nothing when there is none); `done` runs there.
    void forget(const std::string& service_id, const std::string& session_id, std::function<void()> done = nullptr);
    // The kept documents, read on the calling thread once the writes asked before have run. Files
    // that cannot be read are kept aside, logged, and not listed.
    std::vector<VornKeptDocument> kept_documents();

    // The launch reopens a kept document: its window restores the kept text without asking
    // (take_restoring says so once).
    void mark_restoring(const std::string& service_id, const std::string& session_id);
    bool take_restoring(const std::string& service_id, const std::string& session_id);
    bool is_restoring(const std::string& service_id, const std::string& session_id) const;

    // The kept file's JSON text, and the reading of one (nothing when it is not a kept document).
    static std::string encode(VornKeptDocument&& document);
    static std::optional<VornKeptDocument> decode(const std::string& text);

private:
    std::set<std::pair<std::string, std::string>> restoring_;
};

// Runs `fire` on the main queue `delay` after the first change that no run has covered yet; the
// changes that come meanwhile ride along with that run, and a change after the run has started
// schedules the next. Nothing is scheduled while nothing changes. Main thread only.
class VornKeepDebounce {
public:
    VornKeepDebounce(std::chrono::milliseconds delay, std::function<void()> fire);
    ~VornKeepDebounce();  // a run still to come is dropped
    VornKeepDebounce(const VornKeepDebounce&) = delete;
    VornKeepDebounce& operator=(const VornKeepDebounce&) = delete;

    void changed();
    // Drops the run still to come.
    void cancel();
    bool pending() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};
