#include "ui/startup.h"

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QIcon>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTranslator>

#ifndef KESTRA_VERSION
#define KESTRA_VERSION "0.0.0"
#endif

namespace Startup {

QString fourPartVersion(const QString& version)
{
    QStringList parts = version.split(u'.', Qt::SkipEmptyParts);
    while (parts.size() > 4)
        parts.removeLast();
    QStringList numbers;
    for (const QString& p : parts) {
        bool ok = false;
        const uint n = p.toUInt(&ok);
        numbers << QString::number(ok ? n : 0);
    }
    while (numbers.size() < 4)
        numbers << QStringLiteral("0");
    return numbers.join(u'.');
}

QString version()
{
    return fourPartVersion(QStringLiteral(KESTRA_VERSION));
}

QString aboutText()
{
    return QCoreApplication::translate("Startup", "KESTRA Software, Version %1").arg(version());
}

void showAbout(QWidget* parent)
{
    QMessageBox box(parent);
    box.setWindowTitle(QCoreApplication::translate("Startup", "About KESTRA"));
    box.setIconPixmap(QIcon(QStringLiteral(":/icons/kestra.svg")).pixmap(48, 48));
    box.setText(aboutText());
    box.setInformativeText(QCoreApplication::translate("Startup", "Copyright (C) %1").arg(QDate::currentDate().year()));
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

bool loadTranslation(QCoreApplication& app, int language, QTranslator& translator, const QString& programFolder)
{
    if (language != 1)
        return false;
    const QString appFolder = QCoreApplication::applicationDirPath();
    const QStringList folders { programFolder, appFolder, appFolder + QStringLiteral("/translations"),
        appFolder + QStringLiteral("/../share/kestra/translations"), QStringLiteral(":/i18n") };
    for (const QString& folder : folders) {
        if (!folder.isEmpty() && translator.load(QStringLiteral("kestra_ru"), folder)) {
            app.installTranslator(&translator);
            // Qt's own texts (the standard buttons, the file and print dialogs) from Qt's
            // translation, when the system has it; it goes with the program's.
            auto* qtTexts = new QTranslator(&translator);
            if (qtTexts->load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
                app.installTranslator(qtTexts);
            else
                delete qtTexts;
            return true;
        }
    }
    return false;
}

InstanceLock::InstanceLock() = default;

InstanceLock::~InstanceLock()
{
    release();
}

QString InstanceLock::path()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder + u'/' + QString::fromLatin1(Name) + QStringLiteral(".lock");
}

bool InstanceLock::acquire(int waitMs)
{
    if (m_held)
        return true;
    m_lock = std::make_unique<QLockFile>(path());
    // A lock left by a copy that died is taken over (its process no longer exists).
    m_lock->setStaleLockTime(0);
    m_held = m_lock->tryLock(waitMs);
    return m_held;
}

void InstanceLock::release()
{
    if (m_lock && m_held)
        m_lock->unlock();
    m_held = false;
}

} // namespace Startup
