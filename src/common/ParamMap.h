// The start-up parameter map ("root", "main", "title") read by the windows.
#pragma once

#include <map>
#include <string>

namespace quorvin {

class ParamMap {
public:
    void Set(const std::string& key, const std::string& value) { m_values[key] = value; }
    // An absent key reads as the empty text.
    std::string Lookup(const std::string& key) const {
        const auto it = m_values.find(key);
        return it == m_values.end() ? std::string() : it->second;
    }

private:
    std::map<std::string, std::string> m_values;
};

}  // namespace quorvin
