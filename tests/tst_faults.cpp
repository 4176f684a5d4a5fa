// Faults on the line, with the real window in this process and a box on a
// pseudo-terminal standing in for the first serial port: the box falls silent, vanishes
// while the port is open, sends noise and broken frames, or never acknowledges.
#include "audio.h"
#include "crc16.h"
#include "mainwindow.h"
#include "mainwindow_431.h"
#include "parcer.h"
#include "port_namespace.h"
#include "pty_pair.h"
#include "serial_port.h"
#include "test_support.h"
#include "video.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <sys/resource.h>

#include <memory>
#include <vector>

struct MainWindow_probe
{
    static QTimer* link_timer(MainWindow& w) { return w.link_timer; }
    static bool connected(MainWindow& w) { return w.connected; }
    static Parcer* parcer(MainWindow& w) { return w.parcer; }
    static Serial_port* serial_port(MainWindow& w) { return w.serial_port; }
    static Video* video(MainWindow& w) { return w.video; }
    static MainWindow_431* window_431(MainWindow& w) { return w.window_431; }
};

namespace {

QString namespace_problem;

double cpu_seconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A spinning event loop burns a whole core; an idle one next to nothing.
#define VERIFY_IDLE_FOR_A_SECOND()                                                                 \
    do {                                                                                           \
        const double before = cpu_seconds();                                                       \
        QTest::qWait(1000);                                                                        \
        const double used = cpu_seconds() - before;                                                \
        QVERIFY2(used < 0.3, qPrintable(QString("busy for %1 s of CPU in 1 s").arg(used)));        \
    } while (false)

void tick(MainWindow& w)
{
    QMetaObject::invokeMethod(MainWindow_probe::link_timer(w), "timeout");
}

QString text(QWidget& w, const char* label)
{
    return w.findChild<QLabel*>(label)->text();
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

bool crc_intact(const QByteArray& frame)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(frame.constData());
    const int size = frame.size();
    return crc16(bytes, static_cast<std::size_t>(size - 2)) == (bytes[size - 2] << 8 | bytes[size - 1]);
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
    QString crc_label;
};

// Every frame the decoder handed on, with what the window showed for its CRC.
void record_decodes(MainWindow& w, std::vector<Decode>& decodes)
{
    Parcer* parcer = MainWindow_probe::parcer(w);
    QObject::connect(parcer, &Parcer::update_data_ready, [&w, parcer, &decodes] {
        decodes.push_back({parcer->crc_ok, parcer->status_word, text(w, "label_crc_ctrl")});
    });
}

class Boxsim
{
public:
    // Starts the simulated box and returns its pseudo-terminal, empty on failure.
    QString start(const QStringList& options)
    {
        process.start(BOXSIM_PATH, options);
        if (!process.waitForStarted())
            return QString();
        for (int i = 0; i < 100 && !said("pty /dev/pts/"); ++i)
            process.waitForReadyRead(50);
        const QRegularExpressionMatch match = QRegularExpression("pty (/dev/pts/\\d+)").match(lines().join('\n'));
        return match.hasMatch() ? match.captured(1) : QString();
    }

    ~Boxsim()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.write("quit\n");
        if (!process.waitForFinished(3000))
            process.kill();
    }

    QStringList lines()
    {
        buffer += process.readAllStandardOutput();
        const int end = buffer.lastIndexOf('\n');
        if (end >= 0) {
            seen += QString::fromLocal8Bit(buffer.left(end)).split('\n');
            buffer.remove(0, end + 1);
        }
        return seen;
    }
    bool said(const QString& text) { return !lines().filter(text).isEmpty(); }
    // Everything it said, once it has stopped.
    QStringList quit()
    {
        process.write("quit\n");
        if (!process.waitForFinished(5000))
            process.kill();
        return lines();
    }

private:
    QProcess process;
    QByteArray buffer;
    QStringList seen;
};

} // namespace

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

    void silent_box_shows_fault_sends_nothing_and_idles()
    {
        Boxsim box;
        const QString pty = box.start({"--rate", "20", "--silence", "5", "--silence-at", "3", "--seed", "1"});
        QVERIFY(!pty.isEmpty());
        QVERIFY(port_namespace::place(pty));
        Log_capture log;
        MainWindow w;
        w.show();
        MainWindow_probe::link_timer(w)->stop();
        QSignalSpy connections(&w, &MainWindow::new_connection_is_set);
        QSignalSpy frames(MainWindow_probe::parcer(w), &Parcer::update_data_ready);

        QTRY_VERIFY(frames.count() > 0);
        tick(w);
        QVERIFY(MainWindow_probe::connected(w));
        QCOMPARE(connections.count(), 1);

        QTRY_VERIFY_WITH_TIMEOUT(box.said("silent for"), 6000);
        QTest::qWait(200); // frames that were already on the way
        tick(w);
        tick(w);
        QCOMPARE(text(w, "label_receiving_status"), QString("Fault"));
        QVERIFY(!MainWindow_probe::connected(w));
        QVERIFY(!w.findChild<QPushButton*>("button_default_set")->isEnabled());

        // The model-431 window's "Default Set" stays usable without a link; its change
        // must not reach the box.
        MainWindow_431* w431 = MainWindow_probe::window_431(w);
        w431->findChild<QPushButton*>("button_default_set")->click();
        QVERIFY(log.lines().filter("slot_packet_send").isEmpty());
        VERIFY_IDLE_FOR_A_SECOND();

        // Back again: the box got nothing meanwhile, and the link comes back on its own.
        QTRY_VERIFY_WITH_TIMEOUT(box.said("talking again"), 8000);
        QVERIFY2(!box.said("dropped"), qPrintable(box.lines().join('\n')));
        const int before = frames.count();
        QTRY_VERIFY(frames.count() > before);
        tick(w);
        QCOMPARE(text(w, "label_receiving_status"), QString("Ok"));
        QVERIFY(MainWindow_probe::connected(w));
        QCOMPARE(connections.count(), 2);
        QTest::qWait(300);
        QVERIFY(box.lines().filter(" rx ").isEmpty());
    }

    void vanished_box_closes_the_port_and_rescan_brings_the_link_back()
    {
        auto box = std::make_unique<Pty_pair>();
        QVERIFY(port_namespace::place(box->slave_path()));
        MainWindow w;
        w.show();
        MainWindow_probe::link_timer(w)->stop();
        QSignalSpy connections(&w, &MainWindow::new_connection_is_set);
        QSignalSpy frames(MainWindow_probe::parcer(w), &Parcer::update_data_ready);

        box->write(numbered_frame(1));
        QTRY_COMPARE(frames.count(), 1);
        tick(w);
        QVERIFY(MainWindow_probe::connected(w));
        QCOMPARE(open_port_handles(), 1);

        Log_capture log;
        box->close_master();
        QTRY_VERIFY_WITH_TIMEOUT(!log.lines().isEmpty(), 2000);
        VERIFY_IDLE_FOR_A_SECOND();
        QCOMPARE(log.lines().size(), 1);
        QVERIFY2(log.lines().first().startsWith("serial port lost: "), qPrintable(log.lines().first()));
        QCOMPARE(open_port_handles(), 0);
        tick(w);
        QCOMPARE(text(w, "label_receiving_status"), QString("Fault"));
        QVERIFY(!MainWindow_probe::connected(w));

        // A new adapter on the same node; nothing happens until the user rescans.
        box = std::make_unique<Pty_pair>();
        QVERIFY(port_namespace::place(box->slave_path()));
        w.findChild<QPushButton*>("button_rescan")->click();
        QCOMPARE(open_port_handles(), 1);
        QVERIFY(box->read(300).isEmpty());
        box->write(numbered_frame(2));
        QTRY_COMPARE(frames.count(), 2);
        tick(w);
        QCOMPARE(text(w, "label_receiving_status"), QString("Ok"));
        QVERIFY(MainWindow_probe::connected(w));
        QCOMPARE(connections.count(), 2);

        w.findChild<QCheckBox*>("checkBox_mute_34")->click();
        const QByteArray sent = box->read(1000);
        QCOMPARE(sent.size(), 23);
        QCOMPARE(int(sent.at(20)), 0x02);
    }

    // The box's own noise and corruption, reproduced from its log of what it sent: a frame
    // that follows a completed frame with no "P" in the noise between must be decoded,
    // and its CRC judged as the box left it.
    void noisy_box_every_resynchronised_frame_is_decoded()
    {
        Boxsim box;
        const QString pty = box.start({"--rate", "max", "--noise", "0.3", "--noise-max", "32", "--bad-crc", "0.1",
                                       "--seed", "4242", "-v"});
        QVERIFY(!pty.isEmpty());
        QVERIFY(port_namespace::place(pty));
        std::vector<Decode> decodes;
        Log_capture log;
        MainWindow w;
        w.show();
        MainWindow_probe::link_timer(w)->stop();
        record_decodes(w, decodes);

        constexpr int checked = 600;
        auto reached = [&decodes] {
            for (const Decode& d : decodes)
                if (d.crc_ok && d.sequence > checked)
                    return true;
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(reached(), 30000);
        const QStringList said = box.quit();

        struct Sent { QByteArray noise; bool intact; };
        std::vector<Sent> sent;
        const QRegularExpression tx("\\] tx ([0-9A-F ]+)$");
        for (const QString& line : said) {
            const QRegularExpressionMatch m = tx.match(line);
            if (!m.hasMatch())
                continue;
            const QByteArray bytes = QByteArray::fromHex(m.captured(1).toLatin1());
            int start = bytes.size() - 5;
            while (start >= 0 && !(bytes.at(start) == 'P' && bytes.at(start + 1) == 'R'
                                   && uint8_t(bytes.at(start + 2)) + 5 == bytes.size() - start))
                --start;
            QVERIFY2(start >= 0, qPrintable(line));
            const QByteArray frame = bytes.mid(start);
            QCOMPARE(int(uint8_t(frame.at(8)) << 8 | uint8_t(frame.at(9))), int(sent.size()));
            sent.push_back({bytes.left(start), crc_intact(frame)});
        }
        QVERIFY(sent.size() > checked);

        std::vector<int> good(sent.size()), bad(sent.size());
        for (const Decode& d : decodes) {
            if (d.sequence < sent.size())
                (d.crc_ok ? good : bad)[d.sequence]++;
            QCOMPARE(d.crc_label, QString(d.crc_ok ? "Ok" : "Mistmatch"));
            // Nothing the box broke, and nothing made up of noise, passes as good.
            if (d.crc_ok)
                QVERIFY2(d.sequence < sent.size() && sent[d.sequence].intact, qPrintable(QString::number(d.sequence)));
        }
        int expected = 0, broken = 0, headed_noise = 0;
        for (int i = 1; i < checked; ++i) {
            headed_noise += sent[i].noise.contains('P');
            if (good[i - 1] + bad[i - 1] == 0 || sent[i].noise.contains('P'))
                continue;
            ++expected;
            broken += !sent[i].intact;
            // A false header in later noise may reuse a sequence left in the buffer, so
            // a broken frame is only required to have been seen at least once.
            const QString which = QString("frame %1: %2 good, %3 bad").arg(i).arg(good[i]).arg(bad[i]);
            if (sent[i].intact)
                QVERIFY2(good[i] == 1, qPrintable(which));
            else
                QVERIFY2(good[i] == 0 && bad[i] >= 1, qPrintable(which));
        }
        // The seed gives plenty of both kinds; the checks above must have had work to do.
        QVERIFY2(expected > checked * 8 / 10 && broken > 10 && headed_noise > 3,
                 qPrintable(QString("%1 checked, %2 broken, %3 noisy").arg(expected).arg(broken).arg(headed_noise)));
        const auto bad_total = std::count_if(decodes.begin(), decodes.end(), [](const Decode& d) { return !d.crc_ok; });
        QCOMPARE(log.lines().count("crc mismatch"), int(bad_total));
    }

    void hostile_bytes_between_frames_never_lose_a_resynchronised_frame()
    {
        Pty_pair box;
        QVERIFY(port_namespace::place(box.slave_path()));
        std::vector<Decode> decodes;
        MainWindow w;
        w.show();
        MainWindow_probe::link_timer(w)->stop();
        record_decodes(w, decodes);
        QRandomGenerator random(77);

        QByteArray stream = noise(random, 300, false) + numbered_frame(1);
        // Lengths the buffers cannot hold, and an empty one: dropped, not trusted.
        stream += QByteArray::fromHex("5052 00") + numbered_frame(2);
        stream += QByteArray::fromHex("5052 FF") + numbered_frame(3);
        stream += QByteArray::fromHex("5052 2E") + numbered_frame(4);
        stream += with_broken_crc(numbered_frame(5));
        // A header made of noise swallows its length in bytes, then fails its CRC.
        stream += QByteArray::fromHex("5052 07 01020304050607 0809") + numbered_frame(6);
        // A frame cut short is completed by the next one's bytes: both are lost.
        stream += numbered_frame(7).left(20) + numbered_frame(8) + numbered_frame(9);
        stream += noise(random, 4096, false) + numbered_frame(10);
        // Noise with headers in it, then enough quiet to outlast any frame it began.
        stream += noise(random, 4096, true) + QByteArray(48, '\0') + numbered_frame(11);
        stream += with_broken_crc(numbered_frame(12));

        for (int at = 0; at < stream.size();) {
            const int chunk = 1 + random.bounded(64);
            QVERIFY(box.write(stream.mid(at, chunk)));
            at += chunk;
            if (random.bounded(4) == 0)
                QCoreApplication::processEvents();
        }
        QTRY_VERIFY(!decodes.empty() && decodes.back().sequence == 12);

        QList<int> good;
        for (const Decode& d : decodes)
            if (d.crc_ok)
                good << d.sequence;
        QCOMPARE(good, (QList<int>{1, 2, 3, 4, 6, 9, 10, 11}));
        QCOMPARE(std::count_if(decodes.begin(), decodes.end(), [](const Decode& d) { return d.sequence == 5; }), 1);
        QVERIFY(!decodes.back().crc_ok);
        QCOMPARE(text(w, "label_crc_ctrl"), QString("Mistmatch"));
        QCOMPARE(w.findChild<QLabel*>("label_crc_ctrl")->styleSheet(), QString("color: red"));
    }

    void broken_frames_alone_never_establish_the_link()
    {
        Boxsim box;
        const QString pty = box.start({"--rate", "20", "--bad-crc", "1", "--seed", "3"});
        QVERIFY(!pty.isEmpty());
        QVERIFY(port_namespace::place(pty));
        Log_capture log;
        MainWindow w;
        w.show();
        MainWindow_probe::link_timer(w)->stop();
        QSignalSpy connections(&w, &MainWindow::new_connection_is_set);
        QSignalSpy frames(MainWindow_probe::parcer(w), &Parcer::update_data_ready);

        for (int round = 0; round < 3; ++round) {
            const int before = frames.count();
            QTRY_VERIFY(frames.count() > before + 2);
            tick(w);
            QCOMPARE(text(w, "label_receiving_status"), QString("Ok"));
            QCOMPARE(text(w, "label_crc_ctrl"), QString("Mistmatch"));
            QVERIFY(!MainWindow_probe::connected(w));
        }
        QCOMPARE(connections.count(), 0);
        QCOMPARE(log.lines().count("crc mismatch"), frames.count());

        // The controls are enabled by "Ok", but nothing goes out on an unconfirmed link.
        w.findChild<QCheckBox*>("checkBox_mute_12")->click();
        QTest::qWait(300);
        QVERIFY(log.lines().filter("slot_packet_send").isEmpty());
        QVERIFY(box.lines().filter(" rx ").isEmpty());
    }

    void unacknowledged_frames_are_given_up_one_by_one()
    {
        Pty_pair box;
        QVERIFY(port_namespace::place(box.slave_path()));
        MainWindow w;
        w.show();
        MainWindow_probe::link_timer(w)->stop();
        QSignalSpy frames(MainWindow_probe::parcer(w), &Parcer::update_data_ready);
        Serial_port* port = MainWindow_probe::serial_port(w);
        auto click = [&w](const char* name) { w.findChild<QAbstractButton*>(name)->click(); };
        auto mute_of = [](const QByteArray& frame) { return frame.size() == 23 ? int(frame.at(20)) : -1; };

        box.write(numbered_frame(1));
        QTRY_COMPARE(frames.count(), 1);
        tick(w);
        QVERIFY(MainWindow_probe::connected(w));
        Log_capture log;

        click("checkBox_mute_12");
        click("checkBox_mute_34");
        click("checkBox_mute_56");
        QCOMPARE(mute_of(box.read(1000)), 0x01);
        QVERIFY(box.read(300).isEmpty());
        QMetaObject::invokeMethod(port, "serial_port_timeout");
        QCOMPARE(mute_of(box.read(1000)), 0x03);
        QMetaObject::invokeMethod(port, "serial_port_timeout");
        QCOMPARE(mute_of(box.read(1000)), 0x07);
        QMetaObject::invokeMethod(port, "serial_port_timeout");
        QVERIFY(box.read(300).isEmpty());
        QCOMPARE(log.lines().count("Mirelo UART timeout"), 3);

        // The transport's own 3000 ms timer moves the queue just the same.
        click("checkBox_mute_78");
        QCOMPARE(mute_of(box.read(1000)), 0x0F);
        click("checkBox_mute_12");
        QCOMPARE(mute_of(box.read(5000)), 0x0E);
        QCOMPARE(log.lines().count("Mirelo UART timeout"), 4);

        box.write(numbered_frame(2, 0x80));
        QTRY_VERIFY(log.contains("ack recieved"));

        // A CRC reset the box never confirmed is not repeated by later frames.
        click("button_reset_err");
        const QByteArray reset = box.read(1000);
        QCOMPARE(reset.size(), 23);
        QCOMPARE(reset.at(13), char(1));
        QMetaObject::invokeMethod(port, "serial_port_timeout");
        QCOMPARE(int(MainWindow_probe::video(w)->crc_errors_reset), 0);
        click("checkBox_mute_34");
        const QByteArray later = box.read(1000);
        QCOMPARE(later.size(), 23);
        QCOMPARE(later.at(13), char(0));
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
