#include "platform/text/TextDiff.h"

#include <git2.h>

#include "platform/text/ThreeWayMerge.h"

namespace textmerge {

std::string unifiedDiff(std::string_view before, std::string_view after, unsigned contextLines) {
    detail::initialiseLibgit2();
    if (before == after) return {};
    git_diff_options options = GIT_DIFF_OPTIONS_INIT;
    options.context_lines = contextLines;
    git_patch* patch = nullptr;
    if (git_patch_from_buffers(&patch, before.data(), before.size(), "before", after.data(), after.size(), "after",
                               &options) != 0) {
        const git_error* e = git_error_last();
        return std::string("(no diff: ") + (e && e->message ? e->message : "unknown failure") + ")\n";
    }
    git_buf buffer = GIT_BUF_INIT;
    std::string out;
    if (git_patch_to_buf(&buffer, patch) == 0 && buffer.ptr) out.assign(buffer.ptr, buffer.size);
    git_buf_dispose(&buffer);
    git_patch_free(patch);
    // The "diff --git", "---" and "+++" lines name made-up paths: they go.
    const auto first_hunk = out.find("\n@@");
    if (first_hunk != std::string::npos) return out.substr(first_hunk + 1);
    const auto binary = out.find("Binary files");
    if (binary != std::string::npos) return "(the texts differ; one of them is not text)\n";
    return out;
}

}  // namespace textmerge
