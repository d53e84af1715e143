#include "history/pagerlist.h"

#include "history/archivestream.h"

CPager* CPagerList::instrumentAt(int index)
{
    return index < 0 || index >= count() ? nullptr : &m_pagers[static_cast<size_t>(index)];
}

const CPager* CPagerList::instrumentAt(int index) const
{
    return index < 0 || index >= count() ? nullptr : &m_pagers[static_cast<size_t>(index)];
}

CPager* CPagerList::find(const QString& identifier)
{
    for (CPager& p : m_pagers) {
        if (p.identifier() == identifier)
            return &p;
    }
    return nullptr;
}

const CPager* CPagerList::find(const QString& identifier) const
{
    for (const CPager& p : m_pagers) {
        if (p.identifier() == identifier)
            return &p;
    }
    return nullptr;
}

CPager& CPagerList::findOrCreate(const QString& identifier)
{
    if (CPager* p = find(identifier))
        return *p;
    CPager& p = m_pagers.emplace_back(identifier);
    const auto it = m_names.find(identifier);
    if (it != m_names.end())
        p.setName(it->second);
    p.setIndex(count() - 1);
    return p;
}

QString CPagerList::tableName(const QString& identifier) const
{
    const auto it = m_names.find(identifier);
    return it == m_names.end() ? identifier : it->second;
}

void CPagerList::write(StreamWriter& out) const
{
    out.writeInt32(count());
    out.writeInt32(static_cast<qint32>(m_names.size()));
    for (const CPager& p : m_pagers)
        p.write(out);
    for (const auto& [identifier, name] : m_names) {
        out.writeText(identifier);
        out.writeText(name);
    }
}

void CPagerList::read(StreamReader& in)
{
    const qint32 pagers = in.readInt32();
    const qint32 names = in.readInt32();
    in.checkCount(pagers, CPager::minStreamSize);
    std::deque<CPager> readPagers;
    for (qint32 i = 0; i < pagers; ++i)
        readPagers.emplace_back().read(in);
    in.checkCount(names, 2);
    NameTable readNames;
    for (qint32 i = 0; i < names; ++i) {
        QString identifier = in.readText();
        readNames[identifier] = in.readText();
    }
    m_pagers = std::move(readPagers);
    m_names = std::move(readNames);
}
