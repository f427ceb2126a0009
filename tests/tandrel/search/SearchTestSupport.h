#pragma once
// Running site searches and replaces to their end in a test body, against the peers' servers.
#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <mutex>

#include "platform/files/ProviderTestSupport.h"
#include "tandrel/search/SiteReplace.h"
#include "tandrel/search/SiteSearch.h"

namespace searchtest {

using namespace filestest;

// Everything one search reported.
struct Outcome {
    std::map<std::string, sitesearch::FileHits> files;  // by relative path
    std::optional<sitesearch::SearchSummary> summary;
    int finishedCalls = 0;
    int foundAfterFinished = 0;

    std::map<std::string, std::size_t> counts() const {
        std::map<std::string, std::size_t> out;
        for (const auto& [path, hits] : files) out[path] = hits.matches.size();
        return out;
    }
};

// Collects a search's reports; `onProgress` runs with each progress (on the search's threads).
class Recorder {
public:
    std::function<void(sitesearch::SearchProgress)> onProgress;

    sitesearch::SearchHandlers handlers() {
        sitesearch::SearchHandlers h;
        h.found = [this](sitesearch::FileHits hits) {
            std::lock_guard lock(mutex_);
            if (outcome_.finishedCalls) ++outcome_.foundAfterFinished;
            const std::string path = hits.relativePath;
            outcome_.files[path] = std::move(hits);
        };
        h.progress = [this](sitesearch::SearchProgress progress) {
            if (onProgress) onProgress(progress);
        };
        h.finished = [this](sitesearch::SearchSummary summary) {
            std::lock_guard lock(mutex_);
            ++outcome_.finishedCalls;
            outcome_.summary = std::move(summary);
            changed_.notify_all();
        };
        return h;
    }
    Outcome wait() {
        std::unique_lock lock(mutex_);
        EXPECT_TRUE(changed_.wait_for(lock, 60s, [&] { return outcome_.finishedCalls > 0; })) << "the search never ended";
        return outcome_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    Outcome outcome_;
};

inline Outcome search(const std::shared_ptr<files::FileProvider>& provider,
                      const std::shared_ptr<sitesearch::SiteSearchCache>& cache, sitesearch::SearchQuery query,
                      std::map<std::string, std::string> editorTexts = {}) {
    Recorder recorder;
    auto running = sitesearch::SiteSearch::start(provider, cache, std::move(query), std::move(editorTexts),
                                                 recorder.handlers());
    return recorder.wait();
}

// The providers' own checked write, as the app's save road ends in.
inline sitesearch::SaveRoad providerSaveRoad(std::shared_ptr<files::FileProvider> provider) {
    return [provider](std::shared_ptr<const sitesearch::SiteFileText> searched, std::string bytes,
                      std::function<void(sitesearch::SaveOutcome)> done) {
        provider->writeContents(searched->path, std::move(bytes), files::WriteMode::replace, searched->version,
                                [done](std::optional<files::FileVersion>, std::optional<files::FileError> error) {
                                    using Kind = sitesearch::SaveOutcome::Kind;
                                    if (!error) return done({Kind::written, {}});
                                    if (error->kind == files::ErrorKind::changedOnServer) return done({Kind::changedOnServer, {}});
                                    if (error->kind == files::ErrorKind::notFound) return done({Kind::notFound, {}});
                                    done({Kind::failed, error->message});
                                });
    };
}

}  // namespace searchtest
