#include "tandrel/foundation/VornSceneLinksProtocol.h"

namespace {
std::shared_ptr<VornSceneLinksProtocol>& installed() {
    static std::shared_ptr<VornSceneLinksProtocol> links = std::make_shared<VornSceneLinksProtocol>();
    return links;
}
}  // namespace

VornSceneLinksProtocol& scene_links() { return *installed(); }

void install_scene_links(std::shared_ptr<VornSceneLinksProtocol> links) {
    if (links) installed() = std::move(links);
}

void VornSceneLinksProtocol::open_document_scene(const std::string&, const std::string&, bool, ErrorHandler) {}
void VornSceneLinksProtocol::open_alert_scene(const std::string&, const std::string&, ErrorHandler) {}
void VornSceneLinksProtocol::open_single_service_scene(const std::string&, ErrorHandler) {}

void VornSceneLinksProtocol::close_document_scenes_of(const QObject*, const std::optional<std::string>&,
                                                      std::function<void(bool closed)> then) {
    if (then) then(true);
}

VornFileViewerSceneDelegateProtocol* VornSceneLinksProtocol::find_file_viewer(const std::string&) { return nullptr; }
bool VornSceneLinksProtocol::is_document_scene(const ui::Scene*) const { return false; }
void VornSceneLinksProtocol::open_site_search(VornFileViewerSceneDelegateProtocol*) {}
void VornSceneLinksProtocol::rebuild_menus() {}
bool VornSceneLinksProtocol::validate_editor_toggle(ui::Command*) { return false; }
