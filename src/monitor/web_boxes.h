#pragma once

// The monitor's boxes as its web server serves them: each box's last report, kept for the
// server's thread, and the writes its users make, carried out on the boxes' thread through
// each box's share.

#include "box_share.h"
#include "box_watch.h"
#include "expected_settings.h"

#include <QJsonArray>
#include <QJsonObject>

#include <functional>
#include <mutex>
#include <optional>
#include <vector>

// An HTTP answer: its status, body and content type, and what some statuses add.
struct Web_reply
{
    unsigned status = 200;
    QByteArray body;
    QByteArray type = "application/json";
    QByteArray allow;    // 405: the methods the path takes
    int retry_after = 0; // 429 and 503: seconds
};

// A write's answer: {"outcome": ..., "message": ...}.
Web_reply write_outcome(unsigned status, const QString& outcome, const QString& message);

class Web_boxes : public QObject
{
    Q_OBJECT

public:
    struct Source
    {
        QString port; // as --port names it
        Box_watch* watch;
        Box_share* share;
        Expected_settings* expected; // null without --expect
    };

    enum class Write { settings, reset_errors };

    explicit Web_boxes(const std::vector<Source>& boxes);

    // From here to write(): any thread.

    // The box --port named `port`; -1 for none.
    int find(const QString& port) const;
    QJsonObject box(int index) const;
    // Every box in --port order, and whether writes are taken (`writable`).
    QJsonObject all(bool writable) const;
    // The box's settings file, as save writes it; empty before a frame carried them.
    QByteArray settings_file(int index) const;
    // Counts every change a box's report shows.
    quint64 changes() const;

    // Carries out `what` with `body` for `user` on the boxes' thread, and tells `done` the
    // answer there.
    void write(int index, Write what, const QByteArray& body, const QString& user,
               std::function<void(const Web_reply&)> done);

    // The boxes' thread: takes in what the frames do not bring (drift read from the files).
    void refresh();

private:
    // One box's state, copied from its watch as its frames come.
    struct Report
    {
        QString name, location, serial;
        bool up = false;
        std::optional<status::Values> last, whole; // the last good frame, and the last that carried the settings
        qint64 last_frame_ms = 0;                  // since the epoch
        std::optional<Expected_settings::State> drift;
    };

    void frame(int index, const status::Values& values, bool changed);
    void carry_out(int index, Write what, const QByteArray& body, const QString& user,
                   const std::function<void(const Web_reply&)>& done);

    const std::vector<Source> sources;
    mutable std::mutex lock;
    std::vector<Report> reports;
    quint64 changed = 0;
};
