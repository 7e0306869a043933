#include "ui/HistoryWnd.h"

#include "sensors/Sensor.h"
#include "sensors/TextEncoding.h"
#include "settings/Settings.h"
#include "ui/IconPainter.h"
#include "ui/OrbelView.h"
#include "ui/StringTable.h"
#include "ui/ViewDatabaseCommands.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPushButton>
#include <QScatterSeries>
#include <QSpinBox>
#include <QVBoxLayout>
#include <QValueAxis>
#include <QWheelEvent>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>

namespace
{

constexpr unsigned kStrTitle = 751;      // "Verlauf - %1"
constexpr unsigned kStrLastDays = 752;   // "nur Daten der &letzten"
constexpr unsigned kStrDays = 753;       // "Tage"
constexpr unsigned kStrResetZoom = 754;  // "&Zoom zurücksetzen"
constexpr unsigned kStrReading = 755;    // "Messwerte werden gelesen..."
constexpr unsigned kStrCounts = 756;     // "%1 Messwerte, davon %2 ohne Wert"
constexpr unsigned kStrNoReadings = 757; // "Keine Messwerte in diesem Zeitraum."
constexpr unsigned kStrReadFailed = 758; // "Die Messwerte konnten nicht gelesen werden:..."
constexpr unsigned kStrZoomHint = 759;   // how to zoom

constexpr int kDefaultDays = 7;
constexpr int kMaxDays = 99999;
constexpr std::int64_t kMinuteMsecs = 60'000;
constexpr std::int64_t kHourMsecs = 60 * kMinuteMsecs;
constexpr std::int64_t kDayMsecs = 24 * kHourMsecs;

// The time axis is marked in whole steps of local time, at most this many.
constexpr int kMaxTimeSteps = 10;

struct TimeStep
{
    std::int64_t msecs;
    const char* format;
};

const TimeStep kTimeSteps[] = {
    {kMinuteMsecs, "HH:mm"},
    {2 * kMinuteMsecs, "HH:mm"},
    {5 * kMinuteMsecs, "HH:mm"},
    {10 * kMinuteMsecs, "HH:mm"},
    {15 * kMinuteMsecs, "HH:mm"},
    {30 * kMinuteMsecs, "HH:mm"},
    {kHourMsecs, "HH:mm"},
    {2 * kHourMsecs, "dd.MM. HH:mm"},
    {3 * kHourMsecs, "dd.MM. HH:mm"},
    {6 * kHourMsecs, "dd.MM. HH:mm"},
    {12 * kHourMsecs, "dd.MM. HH:mm"},
    {kDayMsecs, "dd.MM."},
    {2 * kDayMsecs, "dd.MM."},
    {7 * kDayMsecs, "dd.MM.yy"},
    {14 * kDayMsecs, "dd.MM.yy"},
    {30 * kDayMsecs, "dd.MM.yy"},
    {91 * kDayMsecs, "MM.yyyy"},
    {365 * kDayMsecs, "yyyy"},
};

// The smallest step that marks span in at most kMaxTimeSteps; none beyond.
const TimeStep* StepFor(std::int64_t span)
{
    for (const TimeStep& step : kTimeSteps)
        if (span <= step.msecs * kMaxTimeSteps)
            return &step;
    return nullptr;
}

std::int64_t FloorTo(std::int64_t value, std::int64_t step)
{
    return (value >= 0 ? value : value - step + 1) / step * step;
}

const QColor kLineColours[CHistoryWnd::kMaxSensors] = {
    QColor(0x1E, 0x5A, 0xC8), QColor(0xD0, 0x20, 0x20), QColor(0x1E, 0x9A, 0x32),
    QColor(0xE0, 0x80, 0x10), QColor(0x80, 0x30, 0xB0), QColor(0x10, 0xA0, 0xB0),
    QColor(0x80, 0x60, 0x30), QColor(0x60, 0x60, 0x60),
};

// The wheel zooms the time axis around the pointer; a dragged frame zooms
// into it, as the chart view does by itself.
class CHistoryChartView : public QChartView
{
public:
    CHistoryChartView(QChart* chart, CHistoryWnd& window) : QChartView(chart), m_window(window)
    {
        setRubberBand(QChartView::RectangleRubberBand);
        setRenderHint(QPainter::Antialiasing);
    }

protected:
    void wheelEvent(QWheelEvent* event) override
    {
        const QRectF plot = chart()->plotArea();
        const double steps = event->angleDelta().y() / 120.0;
        if (steps == 0 || plot.width() <= 0)
        {
            QChartView::wheelEvent(event);
            return;
        }
        m_window.ZoomTime(
            std::pow(0.8, steps),
            std::clamp((event->position().x() - plot.left()) / plot.width(), 0.0, 1.0));
        event->accept();
    }

private:
    CHistoryWnd& m_window;
};

QString Text(const std::string& utf8)
{
    return QString::fromStdString(DecodeLegacyText(utf8));
}

QString PointName(const CSensor& sensor)
{
    if (!sensor.m_strDescription.empty())
        return Text(sensor.m_strDescription);
    return QStringLiteral("%1:%2/%3")
        .arg(Text(sensor.m_strAddress))
        .arg(sensor.m_nPort)
        .arg(sensor.m_nSensorNo);
}

// The lowest and highest value shown between from and to.
void Widen(std::optional<std::pair<double, double>>& range, const std::vector<CChartPoint>& points,
           double from, double to)
{
    for (const CChartPoint& point : points)
    {
        if (std::isnan(point.y) || point.x < from || point.x > to)
            continue;
        if (!range)
            range.emplace(point.y, point.y);
        range->first = std::min(range->first, point.y);
        range->second = std::max(range->second, point.y);
    }
}

} // namespace

CHistoryWnd* CHistoryWnd::Open(COrbelView& view)
{
    std::vector<const CSensor*> sensors;
    for (const auto& [row, record] : view.SelectedRows())
        sensors.push_back(record);
    if (sensors.empty() || sensors.size() > kMaxSensors)
        return nullptr;
    // Opened as an export opens it, so that a login is asked for here and a
    // missing data source is reported; the window reads over a connection
    // of its own.
    CSensorDatabase& database = view.m_db;
    const bool wasOpen = database.m_db.IsOpen();
    if (!wasOpen && !CViewDatabaseCommands(view).OpenDatabase())
        return nullptr;
    CHistorySource source{database.m_strDataSource, database.m_bQuickConnect,
                          database.m_strUserName, database.m_strPassword, database.m_db.Timeout()};
    if (!wasOpen)
        database.m_db.Close();
    auto* window =
        new CHistoryWnd(view.window(), sensors, std::move(source), CSettings().ExportRange());
    window->show();
    return window;
}

CHistoryWnd::CHistoryWnd(QWidget* parent, const std::vector<const CSensor*>& sensors,
                         CHistorySource source, int range)
    : QWidget(parent, Qt::Window)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("historyWindow"));
    setWindowIcon(CIconPainter::AppIcon());

    std::vector<CHistoryLine> lines;
    QStringList names;
    for (const CSensor* sensor : sensors)
    {
        lines.emplace_back(sensor->m_strAddress, sensor->m_nPort, sensor->m_nSensorNo);
        names.append(PointName(*sensor));
        m_units.push_back(Text(sensor->m_strUnit));
        m_intervals.push_back(std::max(sensor->m_nInterval, 1));
        m_labels.push_back(m_units.back().isEmpty()
                               ? names.back()
                               : QStringLiteral("%1 [%2]").arg(names.back(), m_units.back()));
    }
    m_pHistory = std::make_shared<CReadingHistory>(std::move(source), std::move(lines));
    setWindowTitle(LoadString(kStrTitle).arg(names.join(QStringLiteral(", "))));

    // The range as the export's panel shows it: checked for the last N
    // days, unchecked for every reading with N offered.
    m_pLastDays = new QCheckBox(LoadString(kStrLastDays), this);
    m_pLastDays->setObjectName(QStringLiteral("historyRangeCheck"));
    m_pLastDays->setChecked(range >= 1);
    m_pDays = new QSpinBox(this);
    m_pDays->setObjectName(QStringLiteral("historyRangeDays"));
    m_pDays->setRange(1, kMaxDays);
    m_pDays->setValue(range == 0 ? kDefaultDays : std::min(std::abs(range), kMaxDays));
    m_pDays->setEnabled(range >= 1);
    auto* reset = new QPushButton(LoadString(kStrResetZoom), this);
    reset->setObjectName(QStringLiteral("historyResetZoom"));
    reset->setToolTip(LoadString(kStrZoomHint));
    auto* controls = new QHBoxLayout;
    controls->addWidget(m_pLastDays);
    controls->addWidget(m_pDays);
    controls->addWidget(new QLabel(LoadString(kStrDays), this));
    controls->addStretch();
    controls->addWidget(reset);

    m_pChart = new QChart;
    m_pChart->setAnimationOptions(QChart::NoAnimation);
    m_pChart->legend()->setAlignment(Qt::AlignBottom);
    m_pTimeAxis = new QDateTimeAxis(m_pChart);
    m_pChart->addAxis(m_pTimeAxis, Qt::AlignBottom);
    m_pChartView = new CHistoryChartView(m_pChart, *this);
    m_pChartView->setToolTip(LoadString(kStrZoomHint));
    m_pStatus = new QLabel(this);
    m_pStatus->setObjectName(QStringLiteral("historyStatus"));
    m_pStatus->setWordWrap(true);
    m_pStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(m_pChartView, 1);
    layout->addWidget(m_pStatus);
    resize(900, 560);

    connect(m_pLastDays, &QCheckBox::toggled, this,
            [this](bool checked)
            {
                m_pDays->setEnabled(checked);
                Run(Job::Load);
            });
    connect(m_pDays, &QSpinBox::valueChanged, this, [this] { Run(Job::Load); });
    connect(reset, &QPushButton::clicked, this, [this] { ResetZoom(); });
    connect(m_pTimeAxis, &QDateTimeAxis::rangeChanged, this, [this] { OnTimeRangeChanged(); });
    connect(&m_watcher, &QFutureWatcher<bool>::finished, this, [this] { OnJobDone(); });

    // Rows stored by another recorder into the same database show as well.
    m_minuteTimer.setInterval(std::chrono::minutes(1));
    connect(&m_minuteTimer, &QTimer::timeout, this, [this] { Run(Job::Update); });
    m_minuteTimer.start();
    // The rows of one minute tick are stored one after the other.
    m_storedTimer.setSingleShot(true);
    m_storedTimer.setInterval(std::chrono::seconds(1));
    connect(&m_storedTimer, &QTimer::timeout, this, [this] { Run(Job::Update); });
    // Read in detail once the wheel has come to rest.
    m_zoomTimer.setSingleShot(true);
    m_zoomTimer.setInterval(std::chrono::milliseconds(300));
    connect(&m_zoomTimer, &QTimer::timeout, this, [this] { Run(Job::Detail); });

    Run(Job::Load);
}

CHistoryWnd::~CHistoryWnd()
{
    // A read still running ends at its next block, and its result goes
    // nowhere; the axis goes with the chart after the members.
    m_pHistory->Cancel();
    QObject::disconnect(m_pTimeAxis, nullptr, this, nullptr);
}

void CHistoryWnd::OnRowsStored()
{
    if (!m_storedTimer.isActive())
        m_storedTimer.start();
}

bool CHistoryWnd::IsIdle() const
{
    return m_running == Job::None &&
           std::none_of(std::begin(m_pending), std::end(m_pending),
                        [](bool pending) { return pending; }) &&
           !m_storedTimer.isActive() && !m_zoomTimer.isActive();
}

int CHistoryWnd::Range() const
{
    return m_pLastDays->isChecked() ? m_pDays->value() : 0;
}

int CHistoryWnd::Columns() const
{
    const int width = static_cast<int>(m_pChart->plotArea().width());
    return std::max(width > 0 ? width : m_pChartView->width(), 200);
}

void CHistoryWnd::Run(Job job)
{
    if (m_running != Job::None)
    {
        m_pending[static_cast<int>(job)] = true;
        return;
    }
    std::function<bool()> work;
    const std::shared_ptr<CReadingHistory> history = m_pHistory;
    switch (job)
    {
    case Job::Load:
        m_zoom.reset();
        m_pStatus->setText(LoadString(kStrReading));
        work = [history, days = Range(), columns = Columns()]
        { return history->Load(days, columns); };
        break;
    case Job::Update:
        work = [history] { return history->Update(); };
        break;
    case Job::Detail:
        if (!m_zoom)
            return;
        work = [history, span = *m_zoom, columns = Columns()]
        { return history->LoadDetail(span.first, span.second, columns); };
        m_detailSpan = m_zoom;
        break;
    case Job::None:
        return;
    }
    m_running = job;
    m_watcher.setFuture(QtConcurrent::run(std::move(work)));
}

void CHistoryWnd::RunPending()
{
    for (const Job job : {Job::Load, Job::Detail, Job::Update})
    {
        bool& pending = m_pending[static_cast<int>(job)];
        if (!pending)
            continue;
        pending = false;
        // A new range replaces whatever else was waiting.
        if (job == Job::Load)
            std::fill(std::begin(m_pending), std::end(m_pending), false);
        Run(job);
        return;
    }
}

void CHistoryWnd::OnJobDone()
{
    const bool ok = m_watcher.result();
    const Job done = m_running;
    m_running = Job::None;
    if (done == Job::Detail)
        m_bDetailShown = ok && m_zoom == m_detailSpan;
    ShowReadings();

    if (!ok)
        m_pStatus->setText(LoadString(kStrReadFailed).arg(Text(m_pHistory->ErrorText())));
    else if (done != Job::Detail)
    {
        size_t rows = 0, values = 0;
        for (const CHistoryLine& line : m_pHistory->Lines())
        {
            rows += line.m_readings.Rows();
            values += line.m_readings.Values();
        }
        m_pStatus->setText(rows == 0 ? LoadString(kStrNoReadings)
                                     : LoadString(kStrCounts).arg(rows).arg(rows - values));
    }
    RunPending();
}

void CHistoryWnd::ShowReadings()
{
    m_bSettingRange = true;
    m_pChart->removeAllSeries();
    for (QAbstractAxis* axis : m_pChart->axes(Qt::Vertical))
    {
        m_pChart->removeAxis(axis);
        delete axis;
    }
    const auto [from, to] =
        m_zoom.value_or(std::make_pair(m_pHistory->RangeStart(), m_pHistory->RangeEnd()));
    SetTimeRange(from, to, !m_zoom);

    struct UnitAxis
    {
        QValueAxis* axis;
        std::optional<std::pair<double, double>> range;
    };
    std::map<QString, UnitAxis> axes;
    const bool detail = m_zoom && m_bDetailShown && !m_pHistory->Detail().empty();
    for (size_t line = 0; line < m_pHistory->Lines().size(); ++line)
    {
        const CReadingReduction& readings =
            detail ? m_pHistory->Detail()[line] : m_pHistory->Lines()[line].m_readings;
        const std::vector<CChartPoint> points = readings.Points();
        // No row at all for longer than two intervals (recording was off) is
        // no line either; neighbouring columns may lie further apart.
        const double longest =
            std::max(static_cast<double>(2 * m_intervals[line] + 1) * kMinuteMsecs,
                     2.5 * static_cast<double>(readings.ColumnWidth()));
        auto [unit, added] = axes.try_emplace(m_units[line], UnitAxis{nullptr, {}});
        if (added)
        {
            // One axis per unit, on both sides in turn.
            unit->second.axis = new QValueAxis(m_pChart);
            unit->second.axis->setTitleText(m_units[line]);
            m_pChart->addAxis(unit->second.axis, axes.size() % 2 ? Qt::AlignLeft : Qt::AlignRight);
        }
        Widen(unit->second.range, points, static_cast<double>(from), static_cast<double>(to));

        const QColor colour = kLineColours[line % kMaxSensors];
        QXYSeries* named = nullptr;
        QScatterSeries* alone = nullptr;
        // One legend entry per line, whatever the gaps cut it into.
        const auto add = [&](QXYSeries* series, bool inLegend)
        {
            series->setProperty("line", static_cast<int>(line));
            series->setColor(colour);
            m_pChart->addSeries(series);
            series->attachAxis(m_pTimeAxis);
            series->attachAxis(unit->second.axis);
            if (inLegend)
                series->setName(m_labels[line]);
            else
                for (QLegendMarker* marker : m_pChart->legend()->markers(series))
                    marker->setVisible(false);
        };
        QList<QPointF> run;
        const auto endRun = [&]
        {
            if (run.size() == 1)
            {
                // A reading between two gaps has no line to be part of.
                if (!alone)
                {
                    alone = new QScatterSeries;
                    alone->setMarkerSize(6);
                    alone->setBorderColor(colour);
                    add(alone, false);
                }
                alone->append(run.front());
            }
            else if (run.size() > 1)
            {
                auto* series = new QLineSeries;
                series->replace(run);
                add(series, !named);
                named = named ? named : series;
            }
            run.clear();
        };
        for (const CChartPoint& point : points)
        {
            if (std::isnan(point.y) || (!run.isEmpty() && point.x - run.back().x() > longest))
                endRun();
            if (!std::isnan(point.y))
                run.append(QPointF(point.x, point.y));
        }
        endRun();
        if (!named)
            add(new QLineSeries, true);
    }
    for (auto& [name, unit] : axes)
    {
        auto [low, high] = unit.range.value_or(std::make_pair(0.0, 1.0));
        const double margin = high > low ? (high - low) * 0.05 : 1.0;
        unit.axis->setRange(low - margin, high + margin);
        unit.axis->applyNiceNumbers();
    }
    m_bSettingRange = false;
    // The legend lays out markers that came while it was shown only after a
    // change of its size; shown anew, it lays them out at once.
    m_pChart->legend()->hide();
    m_pChart->legend()->show();
}

void CHistoryWnd::SetTimeRange(std::int64_t from, std::int64_t to, bool whole)
{
    to = std::max(to, from + kMinuteMsecs);
    const TimeStep* step = StepFor(to - from);
    int ticks = 5;
    if (step && whole)
    {
        // Widened to whole steps of local time, so that each mark is one.
        const std::int64_t offset =
            QDateTime::fromMSecsSinceEpoch(from).offsetFromUtc() * std::int64_t{1000};
        from = FloorTo(from + offset, step->msecs) - offset;
        to = FloorTo(to + offset - 1, step->msecs) + step->msecs - offset;
        ticks = static_cast<int>((to - from) / step->msecs) + 1;
    }
    m_pTimeAxis->setTickCount(ticks);
    m_pTimeAxis->setFormat(QString::fromLatin1(step ? step->format : "dd.MM.yyyy"));
    m_pTimeAxis->setRange(QDateTime::fromMSecsSinceEpoch(from), QDateTime::fromMSecsSinceEpoch(to));
}

void CHistoryWnd::OnTimeRangeChanged()
{
    if (m_bSettingRange)
        return;
    m_zoom.emplace(m_pTimeAxis->min().toMSecsSinceEpoch(), m_pTimeAxis->max().toMSecsSinceEpoch());
    m_bDetailShown = false;
    m_zoomTimer.start();
}

void CHistoryWnd::ZoomTime(double factor, double fraction)
{
    const std::int64_t from = m_pTimeAxis->min().toMSecsSinceEpoch();
    const std::int64_t to = m_pTimeAxis->max().toMSecsSinceEpoch();
    const double span = static_cast<double>(to - from);
    const double zoomed = std::max(span * factor, static_cast<double>(kMinuteMsecs));
    const double anchor = static_cast<double>(from) + fraction * span;
    const auto start = static_cast<std::int64_t>(anchor - fraction * zoomed);
    SetTimeRange(start, start + static_cast<std::int64_t>(zoomed), false);
}

void CHistoryWnd::ResetZoom()
{
    m_zoom.reset();
    m_bDetailShown = false;
    m_zoomTimer.stop();
    m_pending[static_cast<int>(Job::Detail)] = false;
    ShowReadings();
}

std::vector<QXYSeries*> CHistoryWnd::SeriesOf(int line) const
{
    std::vector<QXYSeries*> series;
    for (QAbstractSeries* candidate : m_pChart->series())
        if (candidate->property("line").toInt() == line)
            series.push_back(static_cast<QXYSeries*>(candidate));
    return series;
}
