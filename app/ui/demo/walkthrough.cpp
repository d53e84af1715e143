#include "ui/demo/walkthrough.h"

#include "document/kestradoc.h"
#include "models/eventlistmodel.h"
#include "models/instrumenttreemodel.h"
#include "ui/daychartview.h"
#include "ui/eventlistprinter.h"
#include "ui/kestradevview.h"
#include "ui/kestraview.h"
#include "ui/mainframe.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QTimer>

#include <cstdio>

Walkthrough::Walkthrough(CMainFrame& frame, const QString& folder)
    : QObject(&frame)
    , m_frame(frame)
    , m_folder(QDir(folder).absolutePath())
{
}

void Walkthrough::then(int delayMs, std::function<void()> step)
{
    QTimer::singleShot(delayMs, this, [this, step = std::move(step)] { m_frame.document().whenIdle(step); });
}

void Walkthrough::snapshot(const QString& name)
{
    QWidget* shown = QApplication::activeModalWidget();
    const QString path = m_folder + u'/' + name;
    if ((shown ? shown : static_cast<QWidget*>(&m_frame))->grab().save(path))
        m_saved << path;
    else
        std::fprintf(stderr, "could not save %s\n", path.toLocal8Bit().constData());
}

void Walkthrough::finish(int code)
{
    std::printf("The window walked through a download, a day with its chart, the alarm filter, the print preview "
                "and the range view:\n");
    for (const QString& path : m_saved)
        std::printf("  %s\n", path.toLocal8Bit().constData());
    std::fflush(stdout);
    m_frame.setUnattended(1);
    QApplication::exit(code);
}

void Walkthrough::start()
{
    QDir().mkpath(m_folder);
    // The start-up download has filled the tree: the first instrument's latest day with
    // alarms, else its first day.
    then(1500, [this] {
        // The instrument's days as the download left them, days with alarms in red.
        CKESTRADevView& tree = m_frame.treeView();
        tree.expandAll();
        snapshot(QStringLiteral("1-download.png"));
        const QModelIndex first = tree.model()->index(0, 0);
        const int days = tree.model()->rowCount(first);
        if (days == 0) {
            std::fprintf(stderr, "the download brought no days\n");
            finish(1);
            return;
        }
        QModelIndex chosen = tree.model()->index(0, 0, first);
        // The latest day with alarms, as the store's day summary marks them.
        if (const CPager* pager = m_frame.document().pagers().instrumentAt(0)) {
            for (auto day = pager->days().rbegin(); day != pager->days().rend(); ++day) {
                const QModelIndex node = tree.treeModel().indexOf(pager->identifier(), day->first);
                if (day->second.hasAlarms && node.isValid()) {
                    chosen = node;
                    break;
                }
            }
        }
        tree.setCurrentIndex(chosen);
        then(1500, [this] {
            snapshot(QStringLiteral("2-day.png"));
            // The chart alone, with the first alarm's row chosen (its point ringed).
            const EventListModel& rows = m_frame.listView().eventModel();
            for (int row = 0; row < rows.rowCount(); ++row) {
                if (rows.recordAt(row).isAlarm() && quantityOfType(rows.recordAt(row).hType)) {
                    m_frame.listView().chooseRow(row);
                    break;
                }
            }
            QApplication::processEvents();
            const QString chartPath = m_folder + QStringLiteral("/2-chart.png");
            if (m_frame.chartView().grab().save(chartPath))
                m_saved << chartPath;
            m_frame.filterBox().setCurrentIndex(1);
            then(1000, [this] {
                snapshot(QStringLiteral("3-alarms.png"));
                m_frame.filterBox().setCurrentIndex(0);
                then(500, [this] {
                    EventListPrinter list = m_frame.eventListPrinter();
                    QPrinter pdf(QPrinter::HighResolution);
                    pdf.setOutputFormat(QPrinter::PdfFormat);
                    pdf.setOutputFileName(m_folder + QStringLiteral("/day.pdf"));
                    if (list.print(pdf))
                        m_saved << pdf.outputFileName();
                    // The preview is modal: its picture is taken from inside it, then it closes.
                    QTimer::singleShot(2000, this, [this] {
                        snapshot(QStringLiteral("4-preview.png"));
                        if (QWidget* dialog = QApplication::activeModalWidget())
                            dialog->close();
                    });
                    EventListPrinter::preview(list, &m_frame);
                    // The range view of the instrument over the month up to the shown day.
                    QTimer::singleShot(1500, this, [this] {
                        snapshot(QStringLiteral("5-range.png"));
                        if (QWidget* dialog = QApplication::activeModalWidget())
                            dialog->close();
                    });
                    m_frame.openRangeView();
                    finish(0);
                });
            });
        });
    });
}
