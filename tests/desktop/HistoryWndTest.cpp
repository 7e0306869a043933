#include "ui/HistoryWnd.h"

#include "desktop/DesktopTestSupport.h"

#include <QChart>
#include <QChartView>
#include <QDateTimeAxis>
#include <QLegendMarker>
#include <QValueAxis>
#include <QWheelEvent>
#include <QXYSeries>
#include <optional>

namespace
{

double At(int month, int day, int hour, int minute)
{
    return static_cast<double>(
        QDateTime(QDate(2024, month, day), QTime(hour, minute)).toMSecsSinceEpoch());
}

// A line's readings as drawn, "[day hh:mm=value ...]" per series in the chart's order.
QString Drawn(CHistoryWnd& window, int line)
{
    QStringList runs;
    for (QXYSeries* series : window.SeriesOf(line))
    {
        QStringList points;
        for (const QPointF& point : series->points())
            points << QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(point.x()))
                              .toString(QStringLiteral("d hh:mm=")) +
                          QString::number(point.y());
        runs << "[" + points.join(' ') + "]";
    }
    return runs.join(' ');
}

// Each mark of the time axis at a whole hour of local time.
bool MarksOnWholeHours(CHistoryWnd& window)
{
    const QDateTimeAxis& axis = *window.TimeAxis();
    const qint64 span = axis.min().msecsTo(axis.max());
    for (int mark = 0; mark < axis.tickCount(); ++mark)
    {
        const QTime time = axis.min().addMSecs(span * mark / (axis.tickCount() - 1)).time();
        if (time.minute() != 0 || time.second() != 0 || time.msec() != 0)
            return false;
    }
    return axis.tickCount() >= 3 && axis.tickCount() <= 13;
}

using HistoryWndTest = DesktopTest;

// The readings on both drivers are the export tests' matter; the window
// reads through the embedded one.
TEST_F(HistoryWndTest, LinesPerSensorWithGapsAxesPerUnitAndTheNewRowsOfEachMinute)
{
    std::optional<FakeClock> clock(CivilTime{2024, 3, 1, 12, 0, 0});
    SharedOdbcEnv().AddSqliteDataSource("Verlauf", m_files / "verlauf.sqlite");
    RawOdbc raw("DSN=Verlauf");
    CreateTables(raw);
    raw.Exec("INSERT INTO Sensors VALUES (1, '127.0.0.1', 80, 0, '', ''), "
             "(2, '127.0.0.1', 80, 1, '', ''), (4, '127.0.0.1', 80, 3, '', '')");
    raw.Exec(
        "INSERT INTO Recording VALUES (1, {d '2024-02-27'}, {t '23:00:00'}, 1), "
        "(1.5, {d '2024-02-28'}, {t '06:00:00'}, 1), (2, {d '2024-03-01'}, {t '11:56:00'}, 1), "
        "(2.5, {d '2024-03-01'}, {t '11:57:00'}, 1), (NULL, {d '2024-03-01'}, {t '11:58:00'}, 1), "
        "(3, {d '2024-03-01'}, {t '11:59:00'}, 1), (3.5, {d '2024-03-01'}, {t '12:00:00'}, 1), "
        "(-5, {d '2024-03-01'}, {t '11:59:00'}, 2)");
    // Twenty minutes with a row every ten seconds, more than the columns of
    // the whole range show.
    std::string dense = "INSERT INTO Recording VALUES ";
    for (int row = 0; row < 120; ++row)
        dense += QString::asprintf("%s(%d, {d '2024-02-29'}, {t '10:%02d:%02d'}, 4)",
                                   row ? ", " : "", row, row / 6, row % 6 * 10)
                     .toStdString();
    raw.Exec(dense);
    CSettings().SetDataSource(QStringLiteral("Verlauf"));
    CSettings().SetExportRange(3);
    std::string config = "ZELD1\r\n127.0.0.1\t80\t0\t1\t°C\tLager\t0x00\r\n"
                         "127.0.0.1\t80\t1\t1\t%\tFeuchte\t0x00\r\n"
                         "127.0.0.1\t80\t2\t1\t°C\tKeller\t0x00\r\n";
    for (int slot = 3; slot < 9; ++slot)
        config += "127.0.0.1\t80\t" + std::to_string(slot) + "\t1\tV\t\t0x00\r\n";
    OpenFrame(config, "verlauf.ini");
    // The chart window of the frame once it has read what it was asked.
    const auto readWindow = [this]
    {
        auto* window = Frame().findChild<CHistoryWnd*>(QStringLiteral("historyWindow"));
        return window && QTest::qWaitFor([window] { return window->IsIdle(); }, 20000) ? window
                                                                                       : nullptr;
    };

    // One to eight rows.
    View().selectAll();
    Frame().UpdateCommandUI();
    EXPECT_FALSE(Act(ID_SHOW_HISTORY)->isEnabled());
    Select({0, 1, 2, 3, 4, 5, 6, 7});
    Frame().UpdateCommandUI();
    EXPECT_TRUE(Act(ID_SHOW_HISTORY)->isEnabled());
    Select({0, 1, 2, 3});
    Frame().OnCommand(ID_SHOW_HISTORY);
    ASSERT_NE(readWindow(), nullptr);
    CHistoryWnd& window = *readWindow();
    EXPECT_EQ(window.windowTitle(), "Verlauf - Lager, Feuchte, Keller, 127.0.0.1:80/3");

    // The last three days from midnight to now, marked at whole hours;
    // before them nothing.
    EXPECT_EQ(window.TimeAxis()->min().toMSecsSinceEpoch(), At(2, 28, 0, 0));
    EXPECT_EQ(window.TimeAxis()->max().toMSecsSinceEpoch(), At(3, 1, 12, 0));
    EXPECT_TRUE(MarksOnWholeHours(window));
    // The missing reading cuts the line, and so do the hours without any
    // row; a reading standing alone is a point.
    EXPECT_EQ(Drawn(window, 0), "[28 06:00=1.5] [1 11:56=2 1 11:57=2.5] [1 11:59=3 1 12:00=3.5]");
    // A point never recorded has a legend entry and nothing more.
    EXPECT_EQ(Drawn(window, 1), "[1 11:59=-5] []");
    EXPECT_EQ(Drawn(window, 2), "[]");
    QStringList legend;
    for (QLegendMarker* marker : window.Chart()->legend()->markers())
        if (marker->isVisible())
            legend.append(marker->label());
    EXPECT_EQ(legend,
              QStringList({"Lager [°C]", "Feuchte [%]", "Keller [°C]", "127.0.0.1:80/3 [V]"}));
    QStringList units;
    for (QAbstractAxis* axis : window.Chart()->axes(Qt::Vertical))
        units.append(axis->titleText());
    EXPECT_EQ(units, QStringList({"°C", "%", "V"}));
    const auto* celsius =
        qobject_cast<QValueAxis*>(window.SeriesOf(0).front()->attachedAxes().value(1, nullptr));
    ASSERT_NE(celsius, nullptr);
    EXPECT_EQ(celsius->titleText(), "°C");
    EXPECT_TRUE(celsius->min() <= 1.5 && celsius->max() >= 3.5);
    EXPECT_EQ(window.findChild<QLabel*>(QStringLiteral("historyStatus"))->text(),
              "127 Messwerte, davon 1 ohne Wert");

    // A minute later a new row and one stored late arrive; only they are
    // added.
    raw.Exec("INSERT INTO Recording VALUES (4, {d '2024-03-01'}, {t '12:01:00'}, 1), "
             "(1, {d '2024-03-01'}, {t '11:05:00'}, 1)");
    clock.emplace(CivilTime{2024, 3, 1, 12, 1, 0});
    View().m_recordingView.OnRowStored(CReading{1, "4.000000"});
    EXPECT_FALSE(window.IsIdle());
    ASSERT_NE(readWindow(), nullptr);
    EXPECT_EQ(Drawn(window, 0), "[28 06:00=1.5 1 11:05=1] [1 11:56=2 1 11:57=2.5] "
                                "[1 11:59=3 1 12:00=3.5 1 12:01=4]");
    EXPECT_GE(window.TimeAxis()->max().toMSecsSinceEpoch(), At(3, 1, 12, 1));
    EXPECT_TRUE(MarksOnWholeHours(window));

    // Zoomed in as by a dragged frame, the rows of the span are read in
    // detail; the wheel zooms further around the pointer; the reset brings
    // back the whole range.
    EXPECT_LT(Drawn(window, 3).count('='), 40);
    window.TimeAxis()->setRange(QDateTime(QDate(2024, 2, 29), QTime(10, 0)),
                                QDateTime(QDate(2024, 2, 29), QTime(10, 20)));
    ASSERT_NE(readWindow(), nullptr);
    EXPECT_EQ(Drawn(window, 3).count('='), 120);
    EXPECT_EQ(window.TimeAxis()->min().msecsTo(window.TimeAxis()->max()), 20 * 60 * 1000);
    auto* view = window.findChild<QChartView*>();
    ASSERT_NE(view, nullptr);
    const QPointF centre = view->mapFromScene(window.Chart()->plotArea().center());
    QWheelEvent wheel(centre, view->viewport()->mapToGlobal(centre), QPoint(), QPoint(0, 120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view->viewport(), &wheel);
    EXPECT_EQ(window.TimeAxis()->min().msecsTo(window.TimeAxis()->max()), 16 * 60 * 1000);
    ASSERT_NE(readWindow(), nullptr);
    window.findChild<QPushButton*>(QStringLiteral("historyResetZoom"))->click();
    EXPECT_EQ(window.TimeAxis()->min().toMSecsSinceEpoch(), At(2, 28, 0, 0));
    EXPECT_LT(Drawn(window, 3).count('='), 40);

    // Every reading: the axis starts with the oldest.
    window.findChild<QCheckBox*>(QStringLiteral("historyRangeCheck"))->setChecked(false);
    ASSERT_NE(readWindow(), nullptr);
    EXPECT_LE(window.TimeAxis()->min().toMSecsSinceEpoch(), At(2, 27, 23, 0));
    EXPECT_TRUE(MarksOnWholeHours(window));
    EXPECT_TRUE(Drawn(window, 0).startsWith("[27 23:00=1 ")) << Drawn(window, 0).toStdString();
}

} // namespace
