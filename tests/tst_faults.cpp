// Faults on the line, with the real window in this process and a box on a
// pseudo-terminal standing in for the first serial port: the box falls silent, vanishes
// while the port is open, sends noise and broken frames, or never acknowledges.
#include "mainwindow.h"
#include "mainwindow_431.h"
#include "parcer.h"
#include "port_namespace.h"
#include "pty_pair.h"
#include "serial_port.h"
#include "test_support.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <sys/resource.h>

#include <memory>
#include <vector>

namespace {

QString namespace_problem;

// CPU seconds this process uses over a second of waiting: a spinning event loop burns a
// whole core, an idle one next to nothing.
double cpu_used_over_a_second()
{
    const auto cpu = [] {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    };
    const double before = cpu();
    QTest::qWait(1000);
    return cpu() - before;
}

// Descriptors this process holds on the stand-in port's node (not on the pty itself).
int open_port_handles()
{
    int count = 0;
    const QDir fds("/proc/self/fd");
    for (const QString& fd : fds.entryList(QDir::NoDotAndDotDot | QDir::System))
        count += QFileInfo(fds.filePath(fd)).symLinkTarget() == port_namespace::node();
    return count;
}

// The sequence number rides in the status word, so every decode can be told apart.
QByteArray numbered_frame(uint16_t sequence, uint8_t flags = 0)
{
    QByteArray payload = payload_430(0x30, 0, flags);
    set_byte(payload, 5, sequence >> 8);
    set_byte(payload, 6, sequence & 0xFF);
    return status_frame(payload);
}

QByteArray with_broken_crc(QByteArray frame)
{
    frame[frame.size() - 1] = static_cast<char>(frame.at(frame.size() - 1) ^ 0x5A);
    return frame;
}

QByteArray noise(QRandomGenerator& random, int count, bool headers_allowed)
{
    QByteArray bytes;
    while (bytes.size() < count) {
        const char byte = static_cast<char>(random.bounded(256));
        if (headers_allowed || byte != 'P')
            bytes.append(byte);
    }
    return bytes;
}

struct Decode
{
    bool crc_ok;
    uint16_t sequence;
    QString crc_label; // what the window showed for it
};

} // namespace

// The window on a fresh pseudo-terminal placed over the port, its watchdog stopped so
// that the test decides when it looks, and every frame the decoder handed on recorded.
struct MainWindow_probe
{
    std::unique_ptr<Pty_pair> box = std::make_unique<Pty_pair>();
    const bool placed = port_namespace::place(box->slave_path());
    std::vector<Decode> decodes;
    MainWindow w;
    QSignalSpy connections{&w, &MainWindow::new_connection_is_set};

    MainWindow_probe()
    {
        w.show();
        w.link_timer->stop();
        QObject::connect(w.parcer, &Parcer::update_data_ready, [this] {
            decodes.push_back({w.parcer->crc_ok, w.parcer->status_word, label("label_crc_ctrl")});
        });
    }

    void tick() { QMetaObject::invokeMethod(w.link_timer, "timeout"); }

    void time_out() { QMetaObject::invokeMethod(w.serial_port, "serial_port_timeout"); }

    bool connected() const { return w.connected; }

    QString label(const char* name) const { return w.findChild<QLabel*>(name)->text(); }

    void click(const char* name, QWidget* window = nullptr)
    {
        (window ? window : &w)->findChild<QAbstractButton*>(name)->click();
    }

    QWidget* window_431() const { return w.window_431; }

    // The box sends good frame `sequence` and the watchdog looks: true when the link is up.
    bool establish(uint16_t sequence)
    {
        const std::size_t before = decodes.size();
        box->write(numbered_frame(sequence));
        if (!QTest::qWaitFor([&] { return decodes.size() > before; }))
            return false;
        tick();
        return connected();
    }

    // The mute and CRC-reset bytes of the next model-430 settings frame the box receives,
    // or (-1, -1) when none comes.
    QPair<int, int> next_sent(int timeout_ms)
    {
        const QByteArray frame = box->read(timeout_ms);
        return frame.size() == 23 ? qMakePair(int(frame.at(20)), int(frame.at(13))) : qMakePair(-1, -1);
    }
};

class Tst_faults : public QObject
{
    Q_OBJECT

private slots:

    void init()
    {
        if (!namespace_problem.isEmpty())
            QSKIP(qPrintable("no stand-in serial port: " + namespace_problem));
        clear_settings_store();
    }

    void silent_box_shows_fault_sends_nothing_idles_and_comes_back()
    {
        MainWindow_probe rig;
        QVERIFY(rig.placed);
        QVERIFY(rig.establish(1));
        QCOMPARE(rig.connections.count(), 1);

        rig.tick(); // nothing heard since the last look
        QCOMPARE(rig.label("label_receiving_status"), QString("Fault"));
        QVERIFY(!rig.connected());
        QVERIFY(!rig.w.findChild<QPushButton*>("button_default_set")->isEnabled());
        // The model-431 window's "Default Set" stays usable without a link; its change
        // must not reach the box.
        rig.click("button_default_set", rig.window_431());
        QVERIFY2(cpu_used_over_a_second() < 0.3, "busy while the box is silent");
        QCOMPARE(rig.next_sent(300), qMakePair(-1, -1));

        // Talking again brings the link back on its own; loading the box's settings sends nothing.
        QVERIFY(rig.establish(2));
        QCOMPARE(rig.label("label_receiving_status"), QString("Ok"));
        QCOMPARE(rig.connections.count(), 2);
        QCOMPARE(rig.next_sent(300), qMakePair(-1, -1));
    }

    void vanished_port_is_closed_once_and_rescan_brings_the_link_back()
    {
        MainWindow_probe rig;
        QVERIFY(rig.placed);
        QVERIFY(rig.establish(1));
        QCOMPARE(open_port_handles(), 1);

        Log_capture log;
        rig.box->close_master();
        QTRY_VERIFY_WITH_TIMEOUT(!log.lines().isEmpty(), 2000);
        QVERIFY2(cpu_used_over_a_second() < 0.3, "busy after the port vanished");
        QCOMPARE(log.lines().size(), 1);
        QVERIFY2(log.lines().first().startsWith("serial port lost: "), qPrintable(log.lines().first()));
        QCOMPARE(open_port_handles(), 0);
        rig.tick();
        QCOMPARE(rig.label("label_receiving_status"), QString("Fault"));

        // A new adapter on the same node, opened when the user rescans.
        rig.box = std::make_unique<Pty_pair>();
        QVERIFY(port_namespace::place(rig.box->slave_path()));
        rig.click("button_rescan");
        QVERIFY(rig.establish(2));
        QCOMPARE(rig.label("label_receiving_status"), QString("Ok"));
        QCOMPARE(rig.connections.count(), 2);
        rig.click("checkBox_mute_34");
        QCOMPARE(rig.next_sent(1000), qMakePair(0x02, 0));
    }

    // Noise with no "P" in it cannot start a header; lengths the buffers cannot hold, and
    // an empty one, are dropped. Either way the next intact frame must be decoded, once,
    // and no broken frame may pass as good.
    void noise_hostile_lengths_and_broken_frames_hide_no_intact_frame()
    {
        MainWindow_probe rig;
        QVERIFY(rig.placed);
        QRandomGenerator random(77);
        const QByteArray hostile[] = {QByteArray::fromHex("505200"), QByteArray::fromHex("5052FF"),
                                      QByteArray::fromHex("50522E"),
                                      QByteArray::fromHex("5052 07 01020304050607 0809")};
        QByteArray stream;
        QList<int> intact, broken;
        for (int sequence = 1; sequence <= 40; ++sequence) {
            stream += sequence <= 4 ? hostile[sequence - 1] : noise(random, random.bounded(64), false);
            const bool bad = sequence > 4 && sequence % 3 == 0;
            stream += bad ? with_broken_crc(numbered_frame(sequence)) : numbered_frame(sequence);
            (bad ? broken : intact) << sequence;
        }
        // A frame cut short is completed by the next one's bytes: both are lost. Headers
        // in the noise swallow what follows until enough quiet outlasts any frame they began.
        stream += numbered_frame(41).left(20) + numbered_frame(42) + numbered_frame(43);
        for (int i = 0; i < 12; ++i)
            stream += QByteArray::fromHex("5052") + noise(random, 1 + random.bounded(60), true);
        stream += QByteArray(48, '\0') + numbered_frame(44);
        stream += with_broken_crc(numbered_frame(45));
        intact << 43 << 44;
        broken << 41;

        for (int at = 0; at < stream.size();) {
            const int chunk = 1 + random.bounded(64);
            QVERIFY(rig.box->write(stream.mid(at, chunk)));
            at += chunk;
            if (random.bounded(4) == 0)
                QCoreApplication::processEvents();
        }
        QTRY_VERIFY(!rig.decodes.empty() && rig.decodes.back().sequence == 45);

        QList<int> good, bad;
        for (const Decode& d : rig.decodes) {
            QCOMPARE(d.crc_label, QString(d.crc_ok ? "Ok" : "Mistmatch"));
            (d.crc_ok ? good : bad) << d.sequence;
        }
        QCOMPARE(good, intact);
        // The fake header among the hostile lengths is judged too, as frame 0x0607.
        QCOMPARE(bad.mid(0, broken.size() + 1), QList<int>{0x0607} + broken);

        // The box is heard, but its last frame failed: no link, and a change made now
        // does not go out. A good frame then brings the link up.
        rig.tick();
        QCOMPARE(rig.label("label_receiving_status"), QString("Ok"));
        QCOMPARE(rig.label("label_crc_ctrl"), QString("Mistmatch"));
        QVERIFY(!rig.connected());
        rig.click("checkBox_mute_12");
        QCOMPARE(rig.next_sent(300), qMakePair(-1, -1));
        QCOMPARE(rig.connections.count(), 0);
        QVERIFY(rig.establish(46));
    }

    void unacknowledged_frames_go_out_one_at_a_time_released_by_the_time_out()
    {
        MainWindow_probe rig;
        QVERIFY(rig.placed);
        QVERIFY(rig.establish(1));

        rig.click("checkBox_mute_12");
        rig.click("checkBox_mute_34");
        QCOMPARE(rig.next_sent(1000), qMakePair(0x01, 0));
        QCOMPARE(rig.next_sent(300), qMakePair(-1, -1));
        rig.time_out();
        QCOMPARE(rig.next_sent(1000), qMakePair(0x03, 0));
        rig.time_out(); // nothing left waiting

        // A CRC reset the box never confirms goes out once, then is withdrawn.
        rig.click("button_reset_err");
        QCOMPARE(rig.next_sent(1000), qMakePair(0x03, 1));
        rig.time_out();
        rig.click("checkBox_mute_56");
        QCOMPARE(rig.next_sent(1000), qMakePair(0x07, 0));

        // The transport's own 3000 ms timer releases the waiting frame just the same.
        rig.click("checkBox_mute_78");
        QCOMPARE(rig.next_sent(5000), qMakePair(0x0F, 0));
        // An acknowledging status frame releases it at once.
        rig.click("checkBox_mute_12");
        QVERIFY(rig.box->write(numbered_frame(2, 0x80)));
        QCOMPARE(rig.next_sent(1000), qMakePair(0x0E, 0));
    }
};

int main(int argc, char** argv)
{
    prepare_test_environment();
    // Before the application object starts any thread.
    namespace_problem = port_namespace::enter();
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false); // the test decides when to end
    Tst_faults test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_faults.moc"
