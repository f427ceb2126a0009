#pragma once
// The document side of the single-window route (phones): the file explorer makes a document
// interface through the maker installed here, and presents its compact editor screen itself.
// Behind the route stands an ordinary document interface manager.
#include <memory>

#include "tandrel/foundation/CompactEditorRoute.h"

class DocumentInterfaceManager;

class CompactDocumentRoute : public CompactDocumentInterface {
public:
    CompactDocumentRoute();
    ~CompactDocumentRoute() override;

    std::shared_ptr<DocumentInterfaceManager> manager;

    // Hands the explorer's editor state to the manager and builds its screens.
    void setup_document_controllers() override;
    std::shared_ptr<CompactEditorScreen> ext_compact_editor_vc() override;
};

// Installs the maker of CompactDocumentRoute for the file explorer (the app does it at launch).
void install_compact_document_route();
