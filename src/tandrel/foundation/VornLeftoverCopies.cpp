#include "tandrel/foundation/VornLeftoverCopies.h"

#include <algorithm>

#include "platform/dispatch/Dispatch.h"
#include "platform/files/RemotePath.h"
#include "tandrel/foundation/VornSessionsManager.h"

VornLeftoverCopies::VornLeftoverCopies(std::string service_id, VornSessionsManager& sessions)
    : service_id_(std::move(service_id)), sessions_(sessions) {
    auto it = sessions_.service_sessions.find(service_id_);
    if (it == sessions_.service_sessions.end() || !it->second) return;
    for (const auto& session : it->second->ace_file_sessions) {
        if (!session) continue;
        for (const auto& copy : session->leftover_copies) {
            if (std::find(copies_.begin(), copies_.end(), copy) == copies_.end()) copies_.push_back(copy);
        }
    }
}

void VornLeftoverCopies::remember(const std::string& file, const std::string& copy) {
    {
        std::lock_guard lock(mutex_);
        if (std::find(copies_.begin(), copies_.end(), copy) != copies_.end()) return;
        copies_.push_back(copy);
    }
    dispatch::mainQueue().async([&sessions = sessions_, service_id = service_id_, file, copy] {
        auto it = sessions.service_sessions.find(service_id);
        if (it == sessions.service_sessions.end() || !it->second) return;
        const std::string wanted = files::path::normalize(file);
        for (const auto& session : it->second->ace_file_sessions) {
            if (!session || files::path::normalize(session->file_path) != wanted) continue;
            auto& kept = session->leftover_copies;
            if (std::find(kept.begin(), kept.end(), copy) != kept.end()) return;
            kept.push_back(copy);
            sessions.request_save_sessions(it->second);
            return;
        }
    });
}

void VornLeftoverCopies::forget(const std::string& copy) {
    {
        std::lock_guard lock(mutex_);
        copies_.erase(std::remove(copies_.begin(), copies_.end(), copy), copies_.end());
    }
    dispatch::mainQueue().async([&sessions = sessions_, service_id = service_id_, copy] {
        auto it = sessions.service_sessions.find(service_id);
        if (it == sessions.service_sessions.end() || !it->second) return;
        bool changed = false;
        for (const auto& session : it->second->ace_file_sessions) {
            if (session) changed = std::erase(session->leftover_copies, copy) > 0 || changed;
        }
        if (changed) sessions.request_save_sessions(it->second);
    });
}

std::vector<std::string> VornLeftoverCopies::copies() const {
    std::lock_guard lock(mutex_);
    return copies_;
}
