#include "ui/windowbackend.h"

WindowBackend::WindowBackend(CKESTRADoc& doc, CommentChanged commentChanged)
    : m_inner(doc)
    , m_commentChanged(std::move(commentChanged))
{
}

bool WindowBackend::updateComment(const ChistoryRec& record)
{
    if (!m_inner.updateComment(record))
        return false;
    if (m_commentChanged)
        m_commentChanged(record);
    return true;
}
