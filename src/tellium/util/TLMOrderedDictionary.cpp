#include "tellium/util/TLMOrderedDictionary.h"

void TLMOrderedDictionary::setObject(TLMJson value, const std::string& key) {
    if (dictionary.find(key) == dictionary.end()) order.push_back(key);
    dictionary[key] = std::move(value);
}

const TLMJson* TLMOrderedDictionary::objectForKey(const std::string& key) const {
    auto it = dictionary.find(key);
    return it == dictionary.end() ? nullptr : &it->second;
}

bool TLMOrderedDictionary::isEqualToDictionary(const TLMOrderedDictionary& other) const {
    return order == other.order && dictionary == other.dictionary;
}

TLMJson TLMOrderedDictionary::toJson() const {
    TLMJson out = TLMJson::object();
    for (const auto& key : order) out[key] = dictionary.at(key);
    return out;
}
