#include "platform/text/ThreeWayMerge.h"

#include <git2.h>

#include <memory>

namespace textmerge {

void detail::initialiseLibgit2() { [[maybe_unused]] static const int initialised = git_libgit2_init(); }

namespace {

git_merge_file_input inputOf(std::string_view text, const char* label) {
    git_merge_file_input input = GIT_MERGE_FILE_INPUT_INIT;
    input.ptr = text.data();
    input.size = text.size();
    input.path = label;
    input.mode = 0100644;
    return input;
}

std::string lastError(const char* what) {
    const git_error* e = git_error_last();
    return std::string(what) + (e && e->message ? std::string(": ") + e->message : std::string());
}

}  // namespace

ThreeWayMerge mergeThreeWay(std::string_view base, std::string_view ours, std::string_view theirs) {
    detail::initialiseLibgit2();
    ThreeWayMerge outcome;
    // Nothing changed on one side: the other side's text is the merge, as it is.
    if (ours == base || ours == theirs) {
        outcome.clean = true;
        outcome.text = std::string(theirs);
        return outcome;
    }
    if (theirs == base) {
        outcome.clean = true;
        outcome.text = std::string(ours);
        return outcome;
    }
    const git_merge_file_input ancestor = inputOf(base, "base");
    const git_merge_file_input mine = inputOf(ours, "editor");
    const git_merge_file_input other = inputOf(theirs, "server");
    git_merge_file_options options = GIT_MERGE_FILE_OPTIONS_INIT;
    options.ancestor_label = "base";
    options.our_label = "editor";
    options.their_label = "server";
    options.favor = GIT_MERGE_FILE_FAVOR_NORMAL;
    options.flags = GIT_MERGE_FILE_DEFAULT;
    git_merge_file_result result{};
    if (git_merge_file(&result, &ancestor, &mine, &other, &options) != 0) {
        outcome.failure = lastError("the merge did not run");
        return outcome;
    }
    std::unique_ptr<git_merge_file_result, void (*)(git_merge_file_result*)> owned(&result, git_merge_file_result_free);
    outcome.clean = result.automergeable != 0;
    if (result.ptr) outcome.text.assign(result.ptr, result.len);
    return outcome;
}

}  // namespace textmerge
