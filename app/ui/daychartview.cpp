#include "ui/daychartview.h"

#include "history/localtime.h"
#include "models/eventlistmodel.h"

#include <QHelpEvent>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

DayChartView::DayChartView(EventListModel& model, QItemSelectionModel& selection, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_selection(selection)
{
    setMinimumSize(240, 140);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(false);
    m_painter.setEmptyText(tr("No measurements to chart"));
    // Every change of the rows: a day shown, the filter, a download's batch, a top row.
    connect(&m_model, &QAbstractItemModel::modelReset, this, &DayChartView::invalidate);
    connect(&m_model, &QAbstractItemModel::rowsInserted, this, &DayChartView::invalidate);
    connect(&m_model, &QAbstractItemModel::rowsRemoved, this, &DayChartView::invalidate);
    connect(&m_model, &QAbstractItemModel::layoutChanged, this, &DayChartView::invalidate);
    // A change of units reaches the value column.
    connect(&m_model, &QAbstractItemModel::dataChanged, this,
        [this](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
            if (topLeft.column() <= EventListModel::Value && bottomRight.column() >= EventListModel::Value)
                update();
        });
    connect(&m_selection, &QItemSelectionModel::selectionChanged, this, &DayChartView::selectionChanged);
    connect(&m_selection, &QItemSelectionModel::currentChanged, this, &DayChartView::selectionChanged);
}

QSize DayChartView::sizeHint() const
{
    return { 500, 220 };
}

void DayChartView::setThresholds(const std::optional<CUserParams>& params)
{
    m_painter.setThresholds(params);
    update();
}

void DayChartView::invalidate()
{
    m_stale = true;
    update();
}

void DayChartView::ensureBuilt() const
{
    if (!m_stale)
        return;
    m_stale = false;
    m_chart.build(
        m_model.day(), m_model.rowCount(), [this](int row) -> const ChistoryRec& { return m_model.recordAt(row); });
    m_chart.configure(m_painter);
    m_painter.setSelected(std::nullopt);
    if (const auto point = selectedPoint())
        m_painter.setSelected(std::make_pair(point->quantity, point->index));
}

const DayChart& DayChartView::chart() const
{
    ensureBuilt();
    return m_chart;
}

const ChartPainter& DayChartView::painter() const
{
    ensureBuilt();
    m_painter.setRoentgen(m_model.unitsRoentgen());
    return m_painter;
}

QRect DayChartView::chartArea() const
{
    return rect();
}

std::optional<DayChart::Point> DayChartView::selectedPoint() const
{
    const QModelIndexList rows = m_selection.selectedRows();
    if (rows.isEmpty())
        return std::nullopt;
    ensureBuilt();
    return m_chart.pointOfRow(rows.front().row());
}

void DayChartView::selectionChanged()
{
    if (m_stale) {
        update();
        return;
    }
    const auto point = selectedPoint();
    m_painter.setSelected(point ? std::optional(std::make_pair(point->quantity, point->index)) : std::nullopt);
    update();
}

void DayChartView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const ChartPainter& chart = painter();
    m_painter.setTextColour(palette().color(QPalette::WindowText));
    chart.paint(p, chartArea());
}

int DayChartView::rowAt(const QPoint& pos) const
{
    const auto hit = painter().hitTest(chartArea(), pos);
    if (!hit)
        return -1;
    return hit->kind == ChartPainter::Hit::Kind::Mark ? m_chart.markRow(hit->quantity, hit->index)
                                                      : m_chart.sampleRow(hit->quantity, hit->index);
}

void DayChartView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const int row = rowAt(event->position().toPoint());
    if (row < 0)
        return;
    const QModelIndex index = m_model.index(row, 0);
    m_selection.setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    emit rowChosen(row);
}

QString DayChartView::toolTipAt(const QPoint& pos) const
{
    const int row = rowAt(pos);
    if (row < 0 || row >= m_model.rowCount())
        return {};
    const ChistoryRec& r = m_model.recordAt(row);
    QString text = LocalTime::format(r.hDateTime, "%H:%M:%S");
    const QString value = r.valueText(m_model.unitsRoentgen()).trimmed();
    if (!value.isEmpty())
        text += QStringLiteral("  ") + value;
    const QString alarm = r.alarmText();
    if (!alarm.isEmpty())
        text += u'\n' + alarm;
    return text;
}

bool DayChartView::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString text = toolTipAt(help->pos());
        if (text.isEmpty()) {
            QToolTip::hideText();
            event->ignore();
        } else {
            QToolTip::showText(help->globalPos(), text, this);
        }
        return true;
    }
    return QWidget::event(event);
}
