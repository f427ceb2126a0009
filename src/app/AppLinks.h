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
// Main thread for the opening; the reading of links (AppLinkRead.cpp) is pure: one reader and one
// list of schemes for the command line and the opening alike, so that a link the command line
// takes is one the app opens.
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
    std::string host;    // lower case; an IPv6 address without its brackets
    int port = 0;        // the scheme's own when the link names none
    std::string user;
    std::optional<std::string> password;
    std::string path;  // decoded, from the login folder (as a server's address): "/" or "/site/page.php"; a folder may end in "/"

    // The address a saved server for the link holds: "scheme://host:port" ("sftp://[::1]:22").
    std::string server_url() const;
};

// The link, or nothing for text that is not an sftp://, ftp:// or ftps:// link with a host.
std::optional<AppLink> read_app_link(const QString& text);
// The schemes of links as a reader would list them: "sftp://, ftp:// or ftps://".
QString app_link_schemes();
// The link as log lines may carry it: without its password (by without_password, AppCommandLine.h).
QString app_link_for_log(const QString& text);
// The saved server of the link's protocol, host, port and user, or nothing.
std::shared_ptr<VornSingleServiceDataModel> saved_server_for_link(const AppLink& link,
                                                                  const VornServicesDataModel& services);
// The link's path counted from the folder the saved server's address names (a link's path counts
// from the login folder, as a server's address does): "/site/page.php" from "ftp://h/site" is
// "/page.php"; a path outside that folder stays as it is.
std::string link_path_within(const AppLink& link, const VornSingleServiceDataModel& server);

// Opens each link, one after another (see above). Links that are not links are logged and left.
void open_app_links(const QStringList& links);
