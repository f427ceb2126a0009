#pragma once
// The open editing sessions of a server: which remote files are open in the editor and the
// editor page's own state of each.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/files/FileProvider.h"
#include "platform/text/TextEncoding.h"
#include "tandrel/foundation/Jsonable.h"

struct VornDocumentBase;

// One file open in the editor.
// The "server_version" object of a stored record: only the facts the server told. Read back, an
// unreadable one is an empty version (not known).
OrderedJson server_version_to_json(const files::FileVersion& version);
files::FileVersion server_version_from_json(const OrderedJson& j);
// The "text_format" object of a stored record or kept text: {"encoding", "bom", "line_ending",
// "declared", "source"}. Read back, one without a known encoding is none (the text is then
// written as UTF-8, as builds before it wrote every file); other unreadable members take their
// defaults.
OrderedJson text_format_to_json(const textcodec::TextFormat& format);
std::optional<textcodec::TextFormat> text_format_from_json(const OrderedJson& j);

class VornACEFileSessionsDataModel : public Jsonable {
public:
    VornACEFileSessionsDataModel();  // empty texts, undo_count 0, opened now

    std::string session_id;
    std::string file_path;
    std::string mime_type;
    std::string json;          // the page's serialised session, handed back to it unchanged
    std::string ace_language;
    int64_t undo_count = 0;
    Date opened;
    // Temporary copies that saves of this file left on the server because the connection broke
    // (as the server names them), to be removed at the next connection ("leftover_copies",
    // written only when there are any).
    std::vector<std::string> leftover_copies;
    // The file was deleted on its server while this session was open ("removed_from_server",
    // written only when set): a save asks before it writes the file there again, also after a
    // restart.
    bool removed_from_server = false;
    // What the server said of the file when it was opened or last saved here; a save goes ahead
    // only while the server's copy is still that one. Empty when not known (a record of an
    // older build): such a save is not checked. Written as "server_version" only when known.
    files::FileVersion server_version;
    // The file's encoding, BOM, line endings and declaration as the text was read (or as the
    // user chose to save it): every save writes the text so. Written as "text_format" when set;
    // none (a record of an older build) is UTF-8 without BOM, all such a build could open.
    std::optional<textcodec::TextFormat> text_format;
    // The server's copy the editor's text was edited from, as text (see VornDocumentBase), for
    // the merge of a save that meets another change. Held in memory and in the crash-kept text,
    // never written to the sessions file; none when not known.
    std::shared_ptr<const VornDocumentBase> base;

    OrderedJson to_json() const override;
    // Every key required but "leftover_copies" (strings that are no text are skipped),
    // "removed_from_server", "server_version" (which, unreadable, counts as not known) and
    // "text_format" (unreadable: none).
    // Throws DecodingError.
    static std::shared_ptr<VornACEFileSessionsDataModel> from_json(const OrderedJson& j);
    std::shared_ptr<VornACEFileSessionsDataModel> clone() const;
    // to_json() that moves the texts out instead of copying them (for a copy about to go).
    OrderedJson take_json();

    // The remote item at `from` (this file, or a folder above it) now lives at `to`: the record
    // follows it (its id, which is made from the path, its path, MIME type, and the path and id
    // inside the page's stored state). False, and nothing changed, when the move is not about
    // this record's file.
    bool follow_move(const std::string& from, const std::string& to);
};

// Where `path` lives after the remote item at `from` moved to `to`: `to` for the item itself,
// `to` + the rest for what lies inside a moved folder, nothing for every other path (and for a
// move of the root). Paths are compared normalized (files::path::normalize).
std::optional<std::string> moved_remote_path(const std::string& path, const std::string& from, const std::string& to);

// The editing sessions of one saved server.
class VornAppMultipleSessionsDataModel : public Jsonable {
public:
    std::string service_id;
    std::vector<std::shared_ptr<VornACEFileSessionsDataModel>> ace_file_sessions;

    OrderedJson to_json() const override;
    static std::shared_ptr<VornAppMultipleSessionsDataModel> from_json(const OrderedJson& j);
    std::shared_ptr<VornAppMultipleSessionsDataModel> clone() const;
    // to_json() that moves the sessions' texts out (for a snapshot about to be written).
    OrderedJson take_json();
};

class VornAppMultipleSessionsDataModelUtility {};
