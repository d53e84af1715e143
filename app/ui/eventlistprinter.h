#pragma once

#include "history/historyrec.h"

#include <QFont>
#include <QString>

#include <vector>

class QPaintDevice;
class QPainter;
class QPrinter;
class QWidget;

// Prints the event list of one instrument-day: a header with the instrument and a rule, one
// fixed-pitch line per event from the oldest upwards, and a rule and "Page nn/mm" at the foot
// of every page. Everything is measured in the printer's device pixels and the face is scaled to
// the page height, so that a page holds the same number of lines on every printer.
class EventListPrinter {
public:
    // The metrics of a page on one device.
    struct Layout {
        QFont font;
        int pageWidth = 0; // printable area, device pixels
        int pageHeight = 0;
        int ascent = 0;
        int lineHeight = 0; // text height and external leading of the print font
        int linesPerPage = 0; // event lines on one page, at least 1
    };

    // rowsInViewOrder: the rows as the event list shows them, newest first. With the filter
    // "Alarms only" only the alarm rows are printed, on consecutive lines.
    EventListPrinter(std::vector<ChistoryRec> rowsInViewOrder, bool roentgen, int filterIndex);

    // The instrument named in the header. Without a call the identifier of the rows is used.
    // The display name is shown in brackets when it is not empty and differs from the identifier.
    void setInstrument(const QString& identifier, const QString& displayName = {});

    static Layout layout(const QPaintDevice& device);
    // Pages of a job of that many rows: one page also for no rows, and no empty page after a
    // page filled to its last line.
    static int pageCountFor(int rows, int linesPerPage);

    int rowCount() const { return static_cast<int>(m_rows.size()); }
    int pageCount(QPrinter& printer) const;
    QString headerText() const;
    // One body line; the fields overflow their columns rather than being cut.
    QString lineText(const ChistoryRec& rec) const;

    // Paints every page, or the page range chosen on the printer. False when the printer cannot
    // be opened or fails while printing.
    bool print(QPrinter& printer) const;

    // Opens a modal print preview of the list; what a print from it that failed went to (see
    // target()), else an empty text.
    static QString preview(EventListPrinter& list, QWidget* parent);
    // The file or printer a printer writes to, for a person.
    static QString target(const QPrinter& printer);

private:
    void paintPage(QPainter& painter, const Layout& layout, int page, int pages) const;

    std::vector<ChistoryRec> m_rows; // in print order: oldest first
    bool m_roentgen;
    QString m_identifier;
    QString m_displayName;
};
