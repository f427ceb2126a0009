#pragma once
// A dictionary that keeps its keys in insertion order: setting a key already present keeps its
// place and takes the new value. Its JSON form lists the keys in that order.
#include <map>
#include <string>
#include <vector>

#include "tellium/util/TLMKeyedArchiver.h"

class TLMOrderedDictionary {
public:
    void setObject(TLMJson value, const std::string& key);
    const TLMJson* objectForKey(const std::string& key) const;
    std::size_t count() const { return dictionary.size(); }
    const std::vector<std::string>& keyEnumerator() const { return order; }
    bool isEqualToDictionary(const TLMOrderedDictionary& other) const;
    TLMJson toJson() const;

    std::vector<std::string> order;
    std::map<std::string, TLMJson> dictionary;
};
