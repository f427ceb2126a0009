#pragma once
// A document's base: the server's copy of the file as this app last read it from the server or
// wrote it there, as text. A save that finds the server's copy changed merges three ways from
// it (the base, the editor's text, the server's text now), so it must be the very copy both
// sides began from: it is taken when the file is opened, and replaced by the text each write put
// on the server. It is held in memory beside the editing session's record and kept with the
// crash-kept text (under "base"), so a merge is possible after a restart; the sessions file does
// not carry it (a record of the sessions file alone has no base: its first changed save asks
// with Cancel and Overwrite only).
//
// The base's bytes are `text` written in `format` (the text road gives back the bytes it read),
// which the server holds for as long as its copy is still `version`.
#include <memory>
#include <optional>
#include <string>

#include "platform/files/FileProvider.h"
#include "platform/text/TextEncoding.h"
#include "tandrel/foundation/Jsonable.h"

struct VornDocumentBase {
    std::string text;  // UTF-8, as the editor shows it
    textcodec::TextFormat format;
    files::FileVersion version;

    // The bytes the server's copy `version` holds; nothing when the text does not go back into
    // its format (a text read with bytes that did not read: such a document is never written).
    std::optional<std::string> bytes() const;

    // {"text", "text_format", "server_version"}. Read back, nothing for a value without its text
    // (an unreadable base is no base: the save then asks without a merge).
    OrderedJson to_json() const;
    static std::shared_ptr<const VornDocumentBase> from_json(const OrderedJson& j);
};
