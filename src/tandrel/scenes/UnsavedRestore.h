#pragma once
// The launch after a crash or a kill: every document whose unsaved text was kept
// (VornUnsavedTextKeeper) opens again, in a file-viewer window connected to its server and a
// document window of its own, with the kept text, marked unsaved; the user saves or discards it
// as usual. One alert says which files were reopened.
//
// Kept text of a server that is no longer saved cannot be reopened: it is offered once, as a
// plain file of the document's name in "Recovered" in the app's data folder (the alert names
// the folder and the files), and the kept copy goes. Kept text whose server could not be reached
// stays kept for the next launch (the alert says so).
//
// At a clean end of the app every open document was saved or discarded at the quit: their kept
// copies go (forget_kept_text_of_open_documents).
#include <filesystem>
#include <optional>
#include <string>

struct VornKeptDocument;

namespace unsaved_restore {

inline constexpr const char* kRestoredTitle = "Unsaved Changes Restored";
inline constexpr const char* kRecoveredFolderName = "Recovered";

// Reads the kept documents and reopens them; called once at launch, after the first window was
// asked for (that window connects to the first server). Does nothing without kept documents, or
// where documents cannot have windows of their own (their kept text waits for a launch that can).
void reopen_kept_documents();

// The kept copies of the documents open now go.
void forget_kept_text_of_open_documents();

// The kept state goes into the document's editing-sessions record, which its window then
// restores; the record's other fields stay as the last run left them. A missing record is made,
// with the change count the last write saw. The state moves out of `document`.
void put_in_sessions_record(VornKeptDocument& document);

// The folder for the text of kept documents of deleted servers.
std::optional<std::filesystem::path> recovered_folder();

// A file name in `folder` for `name` that no file has yet: "name", then "name (2).ext", ...
std::filesystem::path unused_file_name(const std::filesystem::path& folder, const std::string& name);

}  // namespace unsaved_restore
