// The simulated box as a program on its own pseudo-terminal: it acknowledges and applies
// settings frames, ignores broken ones, obeys its commands and refuses bad options.
#include "harness.h"

#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

namespace {

class Box_process
{
public:
    explicit Box_process(const QStringList& options)
    {
        process.start(BOXSIM_PATH, options + QStringList{"--rate", "100", "--link", dir.filePath("box")});
        QTRY_VERIFY(QFile::exists(dir.filePath("box")));
        fd = open(QFile::encodeName(dir.filePath("box")).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    }

    ~Box_process()
    {
        close(fd);
        process.kill();
        process.waitForFinished();
    }

    // The status frames with a good CRC that arrive within `ms`.
    QList<status::Values> frames(int ms = 150)
    {
        QList<status::Values> out;
        QElapsedTimer clock;
        for (clock.start(); clock.elapsed() < ms;) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            char byte;
            while (read(fd, &byte, 1) == 1)
                if (assembler.push(static_cast<uint8_t>(byte)) == frame::Assembler::Result::frame_ok) {
                    out << status::Values{};
                    status::decode(assembler.payload(), out.last());
                }
        }
        return out;
    }

    void send(const QByteArray& bytes) { QCOMPARE(write(fd, bytes.constData(), bytes.size()), bytes.size()); }

    QTemporaryDir dir;
    QProcess process;
    int fd = -1;
    frame::Assembler assembler;
};

} // namespace

class Tst_boxsim : public QObject
{
    Q_OBJECT

private slots:

    void acknowledges_applies_and_resets()
    {
        Box_process box({"--model", "430", "--input-errors", "7"});
        QList<status::Values> said = box.frames();
        QVERIFY(!said.isEmpty());
        QCOMPARE(said.last().device_id, frame::device_id_430);
        QCOMPARE(said.last().crc_err_count, uint16_t(7));
        QCOMPARE(said.last().flags & status::flag::ack, 0);

        Settings_values asked = status_430().settings;
        asked.out_group_1 = 5;
        asked.mute = 0x09;
        asked.crc_errors_reset = 1;
        QByteArray broken = frame::build_settings_frame(frame::device_id_430, asked);
        broken[8] = static_cast<char>(broken[8] ^ 1);
        box.send(broken);
        for (const status::Values& s : box.frames())
            QCOMPARE(s.flags & status::flag::ack, 0);

        box.send(frame::build_settings_frame(frame::device_id_430, asked));
        said = box.frames();
        QVERIFY(said.size() >= 2);
        int acks = 0;
        for (const status::Values& s : said)
            acks += (s.flags & status::flag::ack) != 0;
        QCOMPARE(acks, 1);
        QCOMPARE(said.last().settings.out_group_1, uint8_t(5));
        QCOMPARE(said.last().settings.mute, uint8_t(0x09));
        QCOMPARE(said.last().crc_err_count, uint16_t(0));
    }

    void switch_command_changes_the_model()
    {
        Box_process box({"--model", "431"});
        QCOMPARE(box.frames().value(0).device_id, frame::device_id_431);
        box.process.write("switch\n");
        QCOMPARE(box.frames().last().device_id, frame::device_id_430);
        box.process.write("switch\n");
        QCOMPARE(box.frames().last().device_id, frame::device_id_431);
    }

    void bad_options_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("model") << QStringList{"--model", "432"};
        QTest::newRow("silence every as long as the silence") << QStringList{"--silence", "2", "--silence-every", "2"};
        QTest::newRow("share above 1") << QStringList{"--noise", "101%"};
        QTest::newRow("no frames") << QStringList{"--frames", "0"};
    }

    void bad_options()
    {
        QFETCH(QStringList, options);
        QProcess box;
        box.start(BOXSIM_PATH, options);
        QVERIFY(box.waitForFinished());
        QCOMPARE(box.exitCode(), 2);
    }
};

TAVOLINK_TEST(Tst_boxsim)
#include "tst_boxsim.moc"
