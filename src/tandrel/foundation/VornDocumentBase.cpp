#include "tandrel/foundation/VornDocumentBase.h"

#include <variant>

#include "tandrel/foundation/VornSessionsDataModel.h"

std::optional<std::string> VornDocumentBase::bytes() const {
    auto written = textcodec::encodeText(text, format);
    if (auto* out = std::get_if<std::string>(&written)) return std::move(*out);
    return std::nullopt;
}

OrderedJson VornDocumentBase::to_json() const {
    OrderedJson j = OrderedJson::object();
    j["text"] = text;
    j["text_format"] = text_format_to_json(format);
    if (!version.empty()) j["server_version"] = server_version_to_json(version);
    return j;
}

std::shared_ptr<const VornDocumentBase> VornDocumentBase::from_json(const OrderedJson& j) {
    if (!j.is_object()) return nullptr;
    auto text = j.find("text");
    if (text == j.end() || !text->is_string()) return nullptr;
    auto base = std::make_shared<VornDocumentBase>();
    base->text = text->get<std::string>();
    if (auto it = j.find("text_format"); it != j.end()) {
        if (auto format = text_format_from_json(*it)) base->format = *format;
    }
    if (auto it = j.find("server_version"); it != j.end()) base->version = server_version_from_json(*it);
    return base;
}
