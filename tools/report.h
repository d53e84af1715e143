#pragma once

#include <string>
#include <vector>

namespace kestra::ctl {

/// The answer of one command as labelled fields, printed either for a person ("label: text",
/// labels aligned) or as one JSON object. Keeping both forms in one place keeps them in step.
class Report {
public:
    /// @param label shown to a person (empty: the field is for JSON only)
    /// @param key JSON member name
    /// @param jsonValue ready JSON text
    void add(std::string label, std::string key, std::string text, std::string jsonValue);
    std::string text() const;
    std::string json() const;
    bool empty() const { return m_fields.empty(); }

private:
    struct Field {
        std::string label;
        std::string key;
        std::string text;
        std::string json;
    };
    std::vector<Field> m_fields;
};

} // namespace kestra::ctl
