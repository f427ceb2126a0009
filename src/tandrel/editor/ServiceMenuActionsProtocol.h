#pragma once
// The server commands a document window answers for its file-viewer window.
#include "platform/ui/Responder.h"

class ServiceMenuActionsProtocol {
public:
    virtual ~ServiceMenuActionsProtocol() = default;
    virtual void sm_new_service() = 0;
    virtual void sm_manage_services() = 0;
    virtual void sm_disconnect_service() = 0;
    // The command's property list carries "ConnectionID", the saved server to connect.
    virtual void sm_connect_service(const ui::Command& sender) = 0;

    // The commands' selectors, as the menus name them.
    static constexpr const char* kDisconnectService = "sm_disconnect_service";
    static constexpr const char* kConnectService = "sm_connect_service:";
};
