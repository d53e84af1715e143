#pragma once

#include <QDialog>
#include <QPointer>
#include <QProgressBar>
#include <QTimer>

class QStatusBar;

// The progress bar of the status bar: the label goes into the status bar's pane and the bar
// stands after it, taking 40 percent of the width that is left and a tenth of the pane's
// height less at top and bottom. It steps by one and starts again at 0 after the top of its
// range. Destroying it hides it and puts "Ready" back into the pane.
class CProgressBar final : public QProgressBar {
    Q_OBJECT
public:
    CProgressBar(QStatusBar* statusBar, const QString& label, int range);
    ~CProgressBar() override;

    void stepIt();
    // Steps the bar every 50 ms until stopped.
    void startStepping();
    void stopStepping();
    const QString& label() const { return m_label; }
    // The bar's place in the status bar for its current size and label.
    static QRect placement(const QRect& pane, const QFontMetrics& metrics, const QString& label);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void reposition();

    QPointer<QStatusBar> m_statusBar;
    QString m_label;
    QTimer m_timer;
};

// The modeless window of a device-settings job: a bar from 0 to 100 and a Cancel button that
// cannot stop the job (the instrument must finish its exchange).
class CProgressDialog final : public QDialog {
    Q_OBJECT
public:
    explicit CProgressDialog(const QString& title, QWidget* parent = nullptr);

    void stepIt();
    int value() const;
    // Escape does not close it either.
    void reject() override { }

private:
    QProgressBar* m_bar;
};
