#pragma once
// Temporary copies that broken saves left on a server, kept with the editing sessions of the
// files they were saved for: what a provider remembers goes into that file's session record
// and the server's sessions file, so that a provider made after a restart removes the copy at
// its first working connection too, and what it removed is dropped from them again.
#include <mutex>
#include <string>
#include <vector>

#include "platform/files/FileProvider.h"

class VornSessionsManager;

class VornLeftoverCopies final : public files::LeftoverCopies {
public:
    // Made on the main thread, holding what the server's record keeps now.
    VornLeftoverCopies(std::string service_id, VornSessionsManager& sessions);

    // On any thread; the record changes and is saved on the main queue. A copy of a file that
    // has no session (closed meanwhile) stays in memory only.
    void remember(const std::string& file, const std::string& copy) override;
    void forget(const std::string& copy) override;
    std::vector<std::string> copies() const override;

private:
    const std::string service_id_;
    VornSessionsManager& sessions_;
    mutable std::mutex mutex_;
    std::vector<std::string> copies_;
};
