#include "report.h"

#include "ctl_format.h"

#include <algorithm>

namespace kestra::ctl {

void Report::add(std::string label, std::string key, std::string text, std::string jsonValue)
{
    m_fields.push_back({ std::move(label), std::move(key), std::move(text), std::move(jsonValue) });
}

std::string Report::text() const
{
    std::size_t width = 0;
    for (const Field& f : m_fields)
        width = std::max(width, f.label.size());
    std::string out;
    for (const Field& f : m_fields)
        if (!f.label.empty())
            out += f.label + ":" + std::string(width - f.label.size() + 1, ' ') + f.text + "\n";
    return out;
}

std::string Report::json() const
{
    std::string out = "{";
    for (std::size_t i = 0; i < m_fields.size(); ++i)
        out += (i ? ",\n  " : "\n  ") + jsonString(m_fields[i].key) + ": " + m_fields[i].json;
    out += m_fields.empty() ? "}\n" : "\n}\n";
    return out;
}

} // namespace kestra::ctl
