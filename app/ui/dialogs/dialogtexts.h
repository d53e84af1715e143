#pragma once

#include "document/kestradoc.h"

#include <QCoreApplication>
#include <QString>

// The caption of messages that carry the application's name, translated as the document
// translates it for the window title.
inline QString applicationName()
{
    return QCoreApplication::translate("CKESTRADoc", CKESTRADoc::ApplicationName);
}
