#pragma once
// What the app's server connections trust: one files::Trust for the process, with the app's own
// known_hosts in its data folder, the user's ~/.ssh/known_hosts (read only), and an asker that
// puts each question to the user in an alert on the front window (see files::TrustAsker).
#include <memory>

#include "platform/files/Trust.h"

std::shared_ptr<files::Trust> server_trust();
// Puts another trust in its place (test programs give one that knows their servers' keys);
// null goes back to the app's own.
void set_server_trust(std::shared_ptr<files::Trust> trust);
