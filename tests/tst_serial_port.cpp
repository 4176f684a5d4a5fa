#include "frame_codec.h"
#include "pty_pair.h"
#include "serial_port.h"
#include "test_support.h"
#include "video.h"

#include <QtTest>

#include <sys/resource.h>

namespace {

QByteArray settings_frame(uint8_t marker)
{
    Settings_values values;
    values.mute = marker;
    return frame::build_settings_frame(frame::device_id_431, values);
}

double cpu_seconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

class Tst_serial_port : public QObject
{
    Q_OBJECT

    Video video{nullptr, nullptr, nullptr, nullptr, nullptr};

private slots:

    void frames_wait_for_acknowledgement_or_time_out()
    {
        Pty_pair box;
        QVERIFY(box.is_open());
        Serial_port port(&video);
        QVERIFY(port.open_port(box.slave_path(), 115200));

        port.write_packet(settings_frame(1));
        QCOMPARE(box.read(1000), settings_frame(1));

        port.write_packet(settings_frame(2));
        port.write_packet(settings_frame(3));
        QCOMPARE(box.read(200), QByteArray());

        QMetaObject::invokeMethod(&port, "serial_port_timeout");
        QCOMPARE(box.read(1000), settings_frame(2));
        QMetaObject::invokeMethod(&port, "ack_recieved_and_send_new_msg");
        QCOMPARE(box.read(1000), settings_frame(3));

        // With the queue empty an acknowledgement releases nothing, and the next frame
        // goes out at once.
        QMetaObject::invokeMethod(&port, "ack_recieved_and_send_new_msg");
        QMetaObject::invokeMethod(&port, "ack_recieved_and_send_new_msg");
        port.write_packet(settings_frame(4));
        QCOMPARE(box.read(1000), settings_frame(4));
    }

    void unanswered_frame_is_given_up_after_three_seconds()
    {
        Pty_pair box;
        Serial_port port(&video);
        QVERIFY(port.open_port(box.slave_path(), 115200));
        Log_capture log;

        port.write_packet(settings_frame(1));
        port.write_packet(settings_frame(2));
        QCOMPARE(box.read(1000), settings_frame(1));
        QVERIFY(!log.contains("Mirelo UART timeout"));
        QCOMPARE(box.read(4000), settings_frame(2));
        QCOMPARE(log.lines().count("Mirelo UART timeout"), 1);
    }

    void a_silent_box_keeps_only_the_newest_waiting_frames()
    {
        Pty_pair box;
        Serial_port port(&video);
        QVERIFY(port.open_port(box.slave_path(), 115200));
        port.write_packet(settings_frame(0));
        QCOMPARE(box.read(1000), settings_frame(0));
        for (int i = 1; i <= 100; ++i)
            port.write_packet(settings_frame(static_cast<uint8_t>(i)));

        QByteArray expected, written;
        for (int i = 93; i <= 100; ++i)
            expected += settings_frame(static_cast<uint8_t>(i));
        for (int i = 0; i < 10; ++i) {
            QMetaObject::invokeMethod(&port, "serial_port_timeout");
            written += box.read(100);
        }
        QCOMPARE(written, expected);
    }

    void write_if_idle_drops_while_busy()
    {
        Pty_pair box;
        Serial_port port(&video);
        QVERIFY(port.open_port(box.slave_path(), 115200));

        port.write_packet_if_idle(settings_frame(1));
        QCOMPARE(box.read(1000), settings_frame(1));
        port.write_packet_if_idle(settings_frame(2));
        QMetaObject::invokeMethod(&port, "ack_recieved_and_send_new_msg");
        QCOMPARE(box.read(200), QByteArray());
    }

    void time_out_withdraws_a_pending_crc_reset()
    {
        Serial_port port(&video);
        video.crc_errors_reset = 1;
        QMetaObject::invokeMethod(&port, "serial_port_timeout");
        QCOMPARE(video.crc_errors_reset, uint8_t(0));
        QMetaObject::invokeMethod(&port, "serial_port_timeout");
        QCOMPARE(video.crc_errors_reset, uint8_t(0));
    }

    void missing_port_fails_with_its_name_in_the_log()
    {
        Serial_port port(&video);
        Log_capture log;
        QVERIFY(!port.open_port("/dev/tavolink-no-such-port", 115200));
        QCOMPARE(log.lines().size(), 1);
        const QString line = log.lines().first();
        QVERIFY2(line.startsWith("\"/dev/tavolink-no-such-port\" Failed to open port: \""), qPrintable(line));
        QVERIFY(line.size() > int(strlen("\"/dev/tavolink-no-such-port\" Failed to open port: \"\"")));
    }

    void vanished_peer_closes_the_port_and_leaves_the_process_idle()
    {
        Pty_pair box;
        Serial_port port(&video);
        QVERIFY(port.open_port(box.slave_path(), 115200));
        Log_capture log;

        box.close_master();
        QTRY_VERIFY_WITH_TIMEOUT(log.lines().filter("serial port lost:").size() == 1, 2000);

        // A port left open here spins on its error at full speed; a closed one sleeps.
        const double cpu_before = cpu_seconds();
        QTest::qWait(1000);
        const double cpu_used = cpu_seconds() - cpu_before;
        QVERIFY2(cpu_used < 0.3, qPrintable(QString("busy for %1 s of CPU in 1 s").arg(cpu_used)));
        QCOMPARE(log.lines().filter("serial port lost:").size(), 1);

        // Writing to the closed port is harmless.
        port.write_packet(settings_frame(1));
    }
};

TAVOLINK_TEST_MAIN(Tst_serial_port)
#include "tst_serial_port.moc"
