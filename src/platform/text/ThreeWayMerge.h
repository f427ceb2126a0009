#pragma once
// The three-way merge of a text file that two people changed from one copy: the copy both began
// from (the base), one side's text ("ours", the editor's) and the other's ("theirs", the
// server's). The merge is libgit2's (git_merge_file, the same line merge git runs), never one of
// our own: a change of one side that touches no line the other side changed is taken, and
// changes of both sides that touch the same lines, or lines next to each other, conflict (git
// counts adjacent changes as overlapping, so neither change is placed on a guess). Both sides
// making the same change is no conflict.
//
// Texts are UTF-8 (the editor's texts; the file's own encoding is textcodec's business before
// and after). Lines end where the texts put their line breaks: a CR LF file merges as CR LF, and
// each line keeps the break it came with. A text holding a NUL byte is binary to the merge:
// never clean.
//
// Thread-safe; no Qt. A merge of megabytes takes time: callers run it off the GUI thread.
#include <string>
#include <string_view>

namespace textmerge {

struct ThreeWayMerge {
    // True when no change of one side overlapped a change of the other: `text` is then the
    // merged text. False: `text` holds the merge with git's conflict markers (for display only),
    // or is empty when the merge could not run at all (`failure` says why).
    bool clean = false;
    std::string text;
    std::string failure;
};

ThreeWayMerge mergeThreeWay(std::string_view base, std::string_view ours, std::string_view theirs);

namespace detail {
// libgit2's process-wide state, set up once before the first call of the merge or the diff; it
// is never torn down (the process ends with it).
void initialiseLibgit2();
}  // namespace detail

}  // namespace textmerge
