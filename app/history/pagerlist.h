#pragma once

#include "history/pager.h"

#include <deque>
#include <map>

// Every known instrument, in order of creation, and the identifier-to-name table. References
// to instruments stay valid until the list is cleared.
class CPagerList {
public:
    using NameTable = std::map<QString, QString>;

    void clearInstruments() { m_pagers.clear(); }
    int count() const { return static_cast<int>(m_pagers.size()); }
    CPager* instrumentAt(int index);
    const CPager* instrumentAt(int index) const;
    bool contains(const QString& identifier) const { return find(identifier) != nullptr; }
    CPager* find(const QString& identifier);
    const CPager* find(const QString& identifier) const;
    CPager& findOrCreate(const QString& identifier);

    const NameTable& nameTable() const { return m_names; }
    void clearNameTable() { m_names.clear(); }
    void setTableName(const QString& identifier, const QString& name) { m_names[identifier] = name; }
    // The table's name, or the identifier when the table has none.
    QString tableName(const QString& identifier) const;

    void write(StreamWriter& out) const;
    // Replaces instruments and name table by the stream's; unchanged on error. Indexes of the
    // read instruments are left at -1.
    void read(StreamReader& in);

private:
    std::deque<CPager> m_pagers;
    NameTable m_names;
};
