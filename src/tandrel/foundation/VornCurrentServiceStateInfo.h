#pragma once
// A file-viewer window's live state.
#include <memory>
#include <optional>
#include <string>

#include "tandrel/foundation/Jsonable.h"

class VornCurrentServiceStateInfo : public Jsonable {
public:
    VornCurrentServiceStateInfo();  // a new UUID window id

    std::string static_window_file_id;
    std::optional<std::string> file_path;
    std::optional<std::string> current_dir;
    bool connected = false;
    std::optional<std::string> server_url;  // absolute URL text
    std::optional<std::string> service_id;

    OrderedJson to_json() const override;
    static std::shared_ptr<VornCurrentServiceStateInfo> from_json(const OrderedJson& j);
};
