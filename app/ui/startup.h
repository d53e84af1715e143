#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QLockFile>
#include <QString>

#include <functional>
#include <memory>

class CMainFrame;
class QApplication;
class QCommandLineParser;
class QCoreApplication;
class QTranslator;
class QWidget;

// What the program does before its window shows: one running copy, the language, the log.
namespace Startup {

// "1.0.2" -> "1.0.2.0": the version in its four parts, missing parts 0.
QString fourPartVersion(const QString& version);
// The project's version in four parts.
QString version();
// "KESTRA Software, Version %1" with the version.
QString aboutText();
// The modal About box.
void showAbout(QWidget* parent);

// Language 1 loads the Russian translation when one is found beside the program or in the
// program folder; anything else, or no file, keeps the built-in English. True when a
// translation was installed.
bool loadTranslation(QCoreApplication& app, int language, QTranslator& translator, const QString& programFolder);

// The lock that keeps a second copy from running, in the session's runtime folder.
class InstanceLock {
public:
    static constexpr const char* Name = "KESTRA operation software App_Mutex";

    InstanceLock();
    ~InstanceLock();

    // Waits up to waitMs for the lock; false when another copy holds it.
    bool acquire(int waitMs = 2000);
    void release();
    bool held() const { return m_held; }
    static QString path();

private:
    std::unique_ptr<QLockFile> m_lock;
    bool m_held = false;
};

// The start of a window program, KESTRA's and its demo's: the options --home DIR and
// --unattended MS (with the extra ones given), the program folder, the translation, the
// one-copy lock, the log, the document and the window, maximised. started runs once the window
// has started (its first download made); then the event loop runs until the program ends.
// Returns the exit code: 2 for a usage error, 1 when another copy runs or the folder is unusable.
int runWindow(QApplication& app, const QList<QCommandLineOption>& extra = {},
    const std::function<void(CMainFrame&, const QCommandLineParser&)>& started = {});

} // namespace Startup
