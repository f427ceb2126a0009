#include "tandrel/foundation/CompactEditorRoute.h"

namespace {
CompactDocumentInterfaceMaker& installed_maker() {
    static CompactDocumentInterfaceMaker maker;
    return maker;
}
}  // namespace

void set_compact_document_interface_maker(CompactDocumentInterfaceMaker maker) { installed_maker() = std::move(maker); }

std::shared_ptr<CompactDocumentInterface> make_compact_document_interface() {
    const auto& maker = installed_maker();
    return maker ? maker() : nullptr;
}
