#pragma once

// A box under monitor --expect: its settings compared with its file at every frame that shows
// something new, as series and as drift events.

#include "box_metrics.h"
#include "settings_file.h"

#include <QDateTime>

#include <map>
#include <optional>

class Expected_settings : public QObject
{
    Q_OBJECT

public:
    Expected_settings(Metric_families& families, Box_watch& watch, const QString& port, const QString& path);

    // The comparison now, as the series show it.
    struct State
    {
        QString file;
        QString fault;             // why the file cannot be compared; empty when it can
        std::optional<bool> match; // absent until a frame and a good file are compared
        QStringList differing;     // the settings that differ, by name
    };

    State state() const;

signals:
    // As Box_watch's: a setting starts or stops differing.
    void event(const QString& name, const QString& text, const QJsonObject& details);

private:
    void load_if_changed();
    void compare();
    void report(const QString& fault);

    QString port, path;
    prometheus::Labels box;
    settings_file::Contents contents;
    QDateTime modified; // of the file read, invalid until one is
    qint64 size = -1;
    std::optional<status::Values> last;
    QString reported; // the fault on standard error now
    Series<prometheus::Gauge> match, error;
    prometheus::Family<prometheus::Gauge>& differs_family;

    struct Drift
    {
        std::unique_ptr<Series<prometheus::Gauge>> series;
    };

    std::map<QString, Drift> differs; // by setting
    QTimer second;
};
