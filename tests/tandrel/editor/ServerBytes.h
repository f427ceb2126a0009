#pragma once
// The bytes of a file as the server hands them out, read with a client of its own (libcurl, not
// the app's providers), so a test sees what any visitor of the site would get.
#include <curl/curl.h>

#include <optional>
#include <string>

#include "platform/files/ProviderTestSupport.h"

namespace documenttest {

// The file `name` in the peer's folder, or nothing when the server does not give it. For SFTP
// (sshd) the bytes are read from the server's disk, which is what its SFTP hands out.
inline std::optional<std::string> serverBytes(const filestest::Peer& peer, const std::string& name) {
    if (peer.kind == "sshd") {
        const auto file = peer.root / name;
        if (!std::filesystem::is_regular_file(file)) return std::nullopt;
        return filestest::readDiskFile(file);
    }
    CURL* curl = curl_easy_init();
    if (!curl) return std::nullopt;
    std::string body;
    const std::string url = peer.url + (peer.url.empty() || peer.url.back() != '/' ? "/" : "") + name;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_USERNAME, peer.user.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, peer.password.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_ANY);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 60L);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, +[](char* data, size_t size, size_t count, void* out) {
        static_cast<std::string*>(out)->append(data, size * count);
        return size * count;
    });
    const CURLcode code = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    if (code != CURLE_OK) return std::nullopt;
    return body;
}

}  // namespace documenttest
