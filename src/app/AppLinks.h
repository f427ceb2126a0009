#pragma once
// Links the app opens: `dravix URL...`, a link clicked in a browser (through the desktop entry),
// and the links a later launch hands to the running copy: sftp://, ftp:// and ftps://. A link is
// matched with the saved server of the same protocol, host, port and user, whose file window
// connects with the keychain's password; for a link to no saved server the user is asked
// whether to connect: "Save and Connect" saves the server, "Connect" connects the window to it
// without saving anything (the window holds the server, and the link's password, until it
// connects elsewhere or closes; a later link to it uses that window). A folder opens in the
// server's file window, a file in a document window. Links open one at a time, in the order
// given, each whatever became of the one before (opened, cancelled, failed); they wait for the
// first window when it is still on its way. A link's password is never logged or stored as
// typed: log lines carry the link without it, and it goes only to the keychain, and only when
// the user saves the server.
//
// Main thread.
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <string>

#include "tandrel/foundation/EnumManager.h"

class VornServicesDataModel;
class VornSingleServiceDataModel;

struct AppLink {
    EnumManager::VornConnectionType type = EnumManager::VornConnectionType::unKnown;
    std::string scheme;  // "sftp", "ftp" or "ftps", lower case
    std::string host;    // lower case
    int port = 0;        // the scheme's own when the link names none
    std::string user;
    std::optional<std::string> password;
    std::string path;  // decoded, from the login folder (as a server's address): "/" or "/site/page.php"; a folder may end in "/"

    // The address a saved server for the link holds: "scheme://host:port".
    std::string server_url() const;
};

// The link, or nothing for text that is not an sftp://, ftp:// or ftps:// link with a host.
std::optional<AppLink> read_app_link(const QString& text);
// The link as log lines and messages may carry it: without its password.
QString app_link_for_log(const QString& text);
// The saved server of the link's protocol, host, port and user, or nothing.
std::shared_ptr<VornSingleServiceDataModel> saved_server_for_link(const AppLink& link,
                                                                  const VornServicesDataModel& services);

// Opens each link, one after another (see above). Links that are not links are logged and left.
void open_app_links(const QStringList& links);
