#pragma once
// A saved server's live connection: a connector (FTP, WebDAV or SFTP) around one file provider, and
// the bucket a file-viewer window keeps it in. The bucket owns its connectors, a connector its
// provider; the last reference to a provider stops its worker threads, so drop buckets off the
// GUI thread.
#include <memory>
#include <optional>
#include <string>

#include "platform/files/FileProvider.h"
#include "tandrel/foundation/EnumManager.h"

class VornConnectorBase {
public:
    VornConnectorBase() = default;
    virtual ~VornConnectorBase() = default;

    std::optional<std::string> url;
    std::optional<files::Credential> credential;
    EnumManager::VornConnectionType type = EnumManager::VornConnectionType::ftp;

    // The provider of a connector subclass; none for a plain base.
    virtual std::shared_ptr<files::FileProvider> file_provider() const { return nullptr; }

protected:
    // The subclasses' initialiser: url and credential unset, the type stored; a missing provider
    // is logged (verbose) as "FP Delegate: No Provider!".
    VornConnectorBase(bool has_provider, EnumManager::VornConnectionType connection_type);
};

class VornConnectorFtp : public VornConnectorBase {
public:
    explicit VornConnectorFtp(std::shared_ptr<files::FileProvider> ftp,
                              EnumManager::VornConnectionType connection_type = EnumManager::VornConnectionType::ftp);
    std::shared_ptr<files::FileProvider> provider;
    std::shared_ptr<files::FileProvider> file_provider() const override { return provider; }
};

class VornConnectorWebDav : public VornConnectorBase {
public:
    explicit VornConnectorWebDav(std::shared_ptr<files::FileProvider> webdav,
                                 EnumManager::VornConnectionType connection_type = EnumManager::VornConnectionType::webDav);
    std::shared_ptr<files::FileProvider> provider;
    std::shared_ptr<files::FileProvider> file_provider() const override { return provider; }
};

class VornConnectorSftp : public VornConnectorBase {
public:
    explicit VornConnectorSftp(std::shared_ptr<files::FileProvider> sftp,
                               EnumManager::VornConnectionType connection_type = EnumManager::VornConnectionType::sftp);
    std::shared_ptr<files::FileProvider> provider;
    std::shared_ptr<files::FileProvider> file_provider() const override { return provider; }
};

class VornProviderBucket {
public:
    // A new bucket has all five empty; a built one holds exactly one connector, named by
    // provider_type, and a plain base with the same URL and credential.
    std::shared_ptr<VornConnectorFtp> ftp_provider;
    std::shared_ptr<VornConnectorWebDav> webdav_provider;
    std::shared_ptr<VornConnectorSftp> sftp_provider;
    std::optional<EnumManager::VornConnectionType> provider_type;
    std::shared_ptr<VornConnectorBase> base;

    // The provider of the connector that provider_type names; none for an empty bucket.
    std::shared_ptr<files::FileProvider> provider() const;
};
