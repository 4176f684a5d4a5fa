#pragma once

// The boxes' state as Prometheus series: the families all boxes share, and one box's series
// in them, kept up to date from its watch.

#include "box_watch.h"

#include <prometheus/counter.h>
#include <prometheus/family.h>
#include <prometheus/gauge.h>
#include <prometheus/registry.h>

#include <QObject>

struct Metric_families
{
    explicit Metric_families(prometheus::Registry& registry);

    prometheus::Family<prometheus::Gauge>&link_up, &last_frame, &box_info, &input_present, &input_format, &crc_error,
        &crc_errors, &audio_group, &hdmi_channels, &hdmi_sample_rate, &forced_format, &settings_match, &setting_differs,
        &expected_error, &share_clients;
    prometheus::Family<prometheus::Counter>&frames, &frames_failed, &reopens, &share_frames_passed,
        &share_frames_refused;
};

// A box's own labels: its port as the user named it, and its adapter's serial number where it has one.
prometheus::Labels box_labels(const QString& port, const QString& serial);

// One series a box may or may not have: asking for it under other labels replaces it, so
// that an info series never leaves its old labels behind.
template <typename T> class Series
{
public:
    explicit Series(prometheus::Family<T>& family)
        : family(family)
    {}

    ~Series() { drop(); }

    Series(const Series&) = delete;
    Series& operator=(const Series&) = delete;

    T& with(const prometheus::Labels& labels)
    {
        if (metric && labels != current)
            drop();
        if (!metric) {
            metric = &family.Add(labels);
            current = labels;
        }
        return *metric;
    }

    void drop()
    {
        if (metric)
            family.Remove(metric);
        metric = nullptr;
    }

private:
    prometheus::Family<T>& family;
    T* metric = nullptr;
    prometheus::Labels current;
};

class Box_metrics : public QObject
{
    Q_OBJECT

public:
    // `port` as the user named it labels every series: it stays the same when the adapter
    // comes back under another name.
    Box_metrics(Metric_families& families, Box_watch& watch, const QString& port);

private:
    void frame(const status::Values& values, bool changed);
    void show(const status::Values& values);
    // The box's labels and `more`.
    prometheus::Labels labels(const prometheus::Labels& more = {}) const;

    prometheus::Labels box;
    Series<prometheus::Gauge> link_up, last_frame, info, input_present, input_format, crc_error, crc_errors,
        hdmi_channels, hdmi_sample_rate, forced_format;
    std::vector<std::unique_ptr<Series<prometheus::Gauge>>> audio_groups;
    prometheus::Counter &frames, &frames_failed, &reopens;
};
