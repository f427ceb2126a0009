#include "tandrel/search/SiteReplace.h"

#include <unicode/utf8.h>

#include "platform/dispatch/Dispatch.h"

namespace sitesearch {

namespace {

std::string characterText(char32_t c) {
    std::string out;
    char buffer[4];
    int32_t length = 0;
    UBool error = false;
    U8_APPEND(buffer, length, 4, static_cast<UChar32>(c), error);
    if (!error) out.assign(buffer, static_cast<std::size_t>(length));
    return out;
}

std::string skipReason(const SaveOutcome& outcome) {
    switch (outcome.kind) {
        case SaveOutcome::Kind::changedOnServer: return "Changed on the server since the search.";
        case SaveOutcome::Kind::notFound: return "No longer on the server.";
        case SaveOutcome::Kind::failed: return outcome.message.empty() ? "The file was not saved." : outcome.message;
        case SaveOutcome::Kind::written: break;
    }
    return {};
}

}  // namespace

std::variant<SiteReplace::NewBytes, std::string> SiteReplace::replacedBytes(const SitePattern& pattern,
                                                                            const SiteFileText& file,
                                                                            std::string_view replacement) {
    if (!file.text.lossless) {
        return "Some of its bytes do not read as " + file.text.format.encoding + "; it is left as it is.";
    }
    NewBytes out;
    std::string why;
    std::optional<std::string> text = pattern.replaceAll(file.text.utf8, replacement, &out.count, &why);
    if (!text) return why;
    auto encoded = textcodec::encodeText(*text, file.text.format);
    if (auto* bad = std::get_if<textcodec::Unencodable>(&encoded)) {
        return "\u201C" + characterText(bad->character) + "\u201D (line " + std::to_string(bad->line) +
               ") cannot be written in " + file.text.format.encoding + ".";
    }
    out.bytes = std::move(std::get<std::string>(encoded));
    return out;
}

SiteReplace::SiteReplace(std::vector<FileHits> files, std::string patternText, PatternOptions options,
                         std::string replacement, SaveRoad save, std::function<void(std::size_t, std::size_t)> progress,
                         std::function<void(ReplaceSummary)> finished)
    : files_(std::move(files)),
      pattern_(std::move(patternText), options),
      replacement_(std::move(replacement)),
      save_(std::move(save)),
      progress_(std::move(progress)),
      finished_(std::move(finished)) {}

std::shared_ptr<SiteReplace> SiteReplace::start(std::vector<FileHits> files, std::string patternText,
                                                PatternOptions options, std::string replacement, SaveRoad save,
                                                std::function<void(std::size_t, std::size_t)> progress,
                                                std::function<void(ReplaceSummary)> finished) {
    auto replace = std::make_shared<SiteReplace>(std::move(files), std::move(patternText), options,
                                                 std::move(replacement), std::move(save), std::move(progress),
                                                 std::move(finished));
    auto self = replace;
    dispatch::globalQueue().async([self] { self->pump(); });
    return replace;
}

void SiteReplace::stop() {
    stopping_ = true;
    dispatch::globalQueue().async([self = shared_from_this()] { self->pump(); });
}

void SiteReplace::pump() {
    std::unique_lock lock(mutex_);
    while (!stopping_ && running_ < kSavesInFlight && next_ < files_.size()) {
        const std::size_t index = next_++;
        ++running_;
        lock.unlock();
        runOne(files_[index]);
        lock.lock();
    }
    if (over_ || running_ > 0 || (!stopping_ && next_ < files_.size())) return;
    over_ = true;
    summary_.stopped = stopping_ && next_ < files_.size();
    summary_.notStarted = files_.size() - next_;
    ReplaceSummary summary = summary_;
    lock.unlock();
    if (finished_) finished_(std::move(summary));
}

void SiteReplace::runOne(const FileHits& hits) {
    if (!hits.file || hits.file->fromEditor) return ended(hits, "Open in a document.", 0);
    auto made = replacedBytes(pattern_, *hits.file, replacement_);
    if (auto* why = std::get_if<std::string>(&made)) return ended(hits, *why, 0);
    auto& fresh = std::get<NewBytes>(made);
    if (fresh.count == 0) return ended(hits, "No longer holds a match.", 0);
    if (!save_) return ended(hits, "The file was not saved.", 0);
    auto self = shared_from_this();
    const std::size_t count = fresh.count;
    // The file as searched goes along: its bytes are the server's old copy, its version the expected one.
    save_(hits.file, std::move(fresh.bytes), [self, hits, count](SaveOutcome outcome) {
        if (outcome.kind == SaveOutcome::Kind::written) return self->ended(hits, std::nullopt, count);
        self->ended(hits, skipReason(outcome), 0);
    });
}

void SiteReplace::ended(const FileHits& hits, std::optional<std::string> skipped, std::size_t count) {
    std::size_t done = 0;
    {
        std::lock_guard lock(mutex_);
        if (skipped) {
            summary_.skipped.push_back({hits.relativePath, *skipped});
        } else {
            summary_.replaced.push_back(hits.relativePath);
            summary_.matchesReplaced += count;
        }
        --running_;
        done = ++done_;
    }
    if (progress_) progress_(done, files_.size());
    // The next save starts from a background queue, never inside the save road's completion.
    dispatch::globalQueue().async([self = shared_from_this()] { self->pump(); });
}

}  // namespace sitesearch
