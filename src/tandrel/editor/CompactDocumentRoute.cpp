#include "tandrel/editor/CompactDocumentRoute.h"

#include "tandrel/editor/DocumentInterfaceManager.h"
#include "tandrel/editor/EditorWebViewController.h"

CompactDocumentRoute::CompactDocumentRoute() : manager(std::make_shared<DocumentInterfaceManager>()) {}

CompactDocumentRoute::~CompactDocumentRoute() = default;

void CompactDocumentRoute::setup_document_controllers() {
    manager->full_screen_iphone = full_screen_iphone;
    manager->my_current_editor_info = my_current_editor_info;
    manager->setup_document_controllers();
}

std::shared_ptr<CompactEditorScreen> CompactDocumentRoute::ext_compact_editor_vc() {
    return manager->ext_compact_editor_vc;
}

void install_compact_document_route() {
    set_compact_document_interface_maker([] { return std::make_shared<CompactDocumentRoute>(); });
}
