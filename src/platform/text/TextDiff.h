#pragma once
// The differences between two texts, as a unified diff ("@@ -3,2 +3,3 @@" hunks of lines marked
// " ", "-" and "+"), for showing a kept copy of a file against the editor's text. The diff is
// libgit2's (git's line diff), never one of our own; lines end where the texts put their line
// breaks. Texts are UTF-8; the header lines ("--- ", "+++ ") are left out. Identical texts give
// an empty diff; a text holding a NUL byte is binary to the diff and gives a one-line note.
//
// Thread-safe; no Qt.
#include <string>
#include <string_view>

namespace textmerge {

std::string unifiedDiff(std::string_view before, std::string_view after, unsigned contextLines = 3);

}  // namespace textmerge
