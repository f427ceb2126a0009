#pragma once
// The document side of the single-window route (phones), as the file explorer drives it: a
// document interface that builds a compact editor for the file named in its editor state, and
// that editor's screen. The editor library installs the maker of document interfaces; until it
// does (or where it does not), the explorer reports that no compact editor was found. In the
// foundation: the servers library (the explorer) uses it and the editor library implements it.
#include <functional>
#include <memory>

#include "tandrel/foundation/VornCurrentEditorStateInfo.h"
#include "tandrel/foundation/VornServerFilesDataModel.h"

namespace ui {
class ViewController;
}

// The compact editor screen of a document interface.
class CompactEditorScreen {
public:
    virtual ~CompactEditorScreen() = default;
    // The screen to present full screen (inside a navigation controller).
    virtual std::shared_ptr<ui::ViewController> compact_view_controller() = 0;
    // Places the editor web view and loads the editor page.
    virtual void setup_editor_web_view() = 0;
    // Loads the editor page again.
    virtual void load_editor_page() = 0;
    // Switches the page to the content's editing session.
    virtual void open_file_content(std::shared_ptr<VornServerFileContentModel> content) = 0;
};

// One document interface of the single-window route.
class CompactDocumentInterface {
public:
    virtual ~CompactDocumentInterface() = default;
    bool full_screen_iphone = false;
    VornCurrentEditorStateInfo my_current_editor_info;
    // Creates and wires the document's controllers from `my_current_editor_info`; once the
    // editor page is ready the document reads the file and records its editing session.
    virtual void setup_document_controllers() = 0;
    // The compact editor, when one was made.
    virtual std::shared_ptr<CompactEditorScreen> ext_compact_editor_vc() = 0;
};

using CompactDocumentInterfaceMaker = std::function<std::shared_ptr<CompactDocumentInterface>()>;
// Installs (or, with nothing, removes) the maker the explorer uses.
void set_compact_document_interface_maker(CompactDocumentInterfaceMaker maker);
// A new document interface, or nothing when no maker is installed.
std::shared_ptr<CompactDocumentInterface> make_compact_document_interface();
