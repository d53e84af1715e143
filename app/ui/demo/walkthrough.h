#pragma once

#include <QObject>
#include <QString>

#include <functional>

class CMainFrame;

// A walk through the window without a person, for the demo: after the start-up download it
// shows the latest day with its chart, the alarm filter, the print preview and the range view,
// saving a picture of each and the printed day as PDF into a folder, then ends the program.
class Walkthrough final : public QObject {
    Q_OBJECT
public:
    Walkthrough(CMainFrame& frame, const QString& folder);
    void start();

private:
    // Runs step once the document is idle, after delayMs to let the views paint.
    void then(int delayMs, std::function<void()> step);
    void snapshot(const QString& name);
    void finish(int code);

    CMainFrame& m_frame;
    QString m_folder;
    QStringList m_saved;
};
