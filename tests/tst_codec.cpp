#include "crc16.h"
#include "frame_codec.h"
#include "test_support.h"

#include <QtTest>

namespace {

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

// Feeds `chunks` through an assembler and records every completed frame.
struct Recorded_frame
{
    bool crc_ok;
    QByteArray payload;

    bool operator==(const Recorded_frame& other) const { return crc_ok == other.crc_ok && payload == other.payload; }
};

QList<Recorded_frame> assemble(const QList<QByteArray>& chunks)
{
    frame::Assembler assembler;
    QList<Recorded_frame> frames;
    for (const QByteArray& chunk : chunks) {
        for (char byte : chunk) {
            const auto result = assembler.push(static_cast<uint8_t>(byte));
            if (result == frame::Assembler::Result::pending)
                continue;
            frames.append({result == frame::Assembler::Result::frame_ok,
                           QByteArray(reinterpret_cast<const char*>(assembler.payload()), assembler.payload_length())});
        }
    }
    return frames;
}

QList<QByteArray> split(const QByteArray& stream, int chunk_size)
{
    QList<QByteArray> chunks;
    for (int i = 0; i < stream.size(); i += chunk_size)
        chunks.append(stream.mid(i, chunk_size));
    return chunks;
}

} // namespace

class Tst_codec : public QObject
{
    Q_OBJECT

private slots:

    void crc_matches_the_bitwise_definition_at_every_length()
    {
        const QByteArray check("123456789");
        QCOMPARE(crc16(reinterpret_cast<const uint8_t*>(check.constData()), 9), uint16_t(0x4B37));

        // The polynomial applied one bit at a time: slow, but plainly the definition.
        const auto bitwise = [](const QByteArray& bytes) {
            uint16_t crc = 0xFFFF;
            for (char byte : bytes) {
                crc ^= static_cast<uint8_t>(byte);
                for (int bit = 0; bit < 8; ++bit)
                    crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
            }
            return crc;
        };
        QByteArray bytes;
        uint32_t seed = 12345;
        for (int length = 0; length < 70; ++length) {
            QCOMPARE(crc16(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size())),
                     bitwise(bytes));
            seed = seed * 1103515245u + 12345u;
            bytes.append(static_cast<char>(seed >> 16));
        }
    }

    void settings_frames_byte_for_byte()
    {
        const Settings_values zero;
        QCOMPARE(frame::build_settings_frame(frame::device_id_430, zero),
                 hex("52501230 01AE 000000000000000000000000000000 08B7"));
        QCOMPARE(frame::build_settings_frame(frame::device_id_431, zero), hex("52500A30 01AF 00000000000000 B662"));

        // Without a known device there is no identifier: the seven group bytes follow
        // the version directly.
        Settings_values values;
        values.out_group_1 = 1;
        values.mute = 0x0F;
        values.input_sel = 9; // model-430 only, so absent here
        const QByteArray unknown = frame::build_settings_frame(0x1234, values);
        QCOMPARE(unknown.size(), 13);
        QCOMPARE(unknown.left(11), hex("5250083001 0000000000 0F"));
        const uint16_t crc = crc16(reinterpret_cast<const uint8_t*>(unknown.constData()), 11);
        QCOMPARE(uint8_t(unknown[11]), uint8_t(crc >> 8));
        QCOMPARE(uint8_t(unknown[12]), uint8_t(crc & 0xFF));
    }

    void settings_frame_carries_each_value_at_its_offset()
    {
        Settings_values v;
        uint8_t* fields[] = {&v.input_sel,   &v.output_12,         &v.output_34,     &v.output_56,
                             &v.output_78,   &v.manual_fmt_enable, &v.manual_format, &v.crc_errors_reset,
                             &v.out_group_1, &v.out_group_2,       &v.output_12_2,   &v.output_34_2,
                             &v.output_56_2, &v.output_78_2,       &v.mute};
        for (int i = 0; i < 15; ++i)
            *fields[i] = static_cast<uint8_t>(0xA0 + i);
        const QByteArray f430 = frame::build_settings_frame(frame::device_id_430, v);
        QCOMPARE(f430.size(), 23);
        for (int i = 0; i < 15; ++i)
            QCOMPARE(uint8_t(f430[6 + i]), uint8_t(0xA0 + i));
        const QByteArray f431 = frame::build_settings_frame(frame::device_id_431, v);
        QCOMPARE(f431.mid(6, 7), hex("A8A9AAABACADAE"));
    }

    void chunking_does_not_change_what_is_assembled()
    {
        QByteArray p1 = payload_430();
        set_byte(p1, 12, 1);
        QByteArray p2 = payload_431(0x21, 2, 0x8B);
        const QByteArray stream = hex("00 50 11") + status_frame(p1) + hex("FF") + status_frame(p2);

        const QList<Recorded_frame> whole = assemble({stream});
        QCOMPARE(whole.size(), 2);
        QVERIFY(whole[0].crc_ok && whole[1].crc_ok);
        QCOMPARE(whole[0].payload, p1);
        QCOMPARE(whole[1].payload, p2);
        QCOMPARE(assemble(split(stream, 1)), whole);
        QCOMPARE(assemble(split(stream, 7)), whole);
        // Two whole frames in one chunk, the leading noise in another.
        QCOMPARE(assemble({stream.left(3), stream.mid(3)}), whole);
    }

    void header_search_needs_p_then_r()
    {
        const QByteArray body = status_frame(payload_430()).mid(2);
        // "P" "P" "R": the second "P" is eaten as the byte after the first one.
        QVERIFY(assemble({hex("5050 52") + body}).isEmpty());
        QCOMPARE(assemble({hex("5050 52") + body + status_frame(payload_430())}).size(), 1);
        // Host-direction headers are not status frames.
        QVERIFY(assemble({hex("52 50") + body}).isEmpty());
    }

    void swapped_crc_is_delivered_as_bad()
    {
        QByteArray bad = status_frame(payload_431());
        std::swap(bad.data()[bad.size() - 1], bad.data()[bad.size() - 2]);
        QVERIFY(bad[bad.size() - 1] != bad[bad.size() - 2]);
        const QList<Recorded_frame> frames = assemble({bad + status_frame(payload_430())});
        QCOMPARE(frames.size(), 2);
        QVERIFY(!frames[0].crc_ok);
        QCOMPARE(frames[0].payload, payload_431());
        QVERIFY(frames[1].crc_ok);
    }

    void lengths_the_buffers_cannot_hold_are_dropped()
    {
        const QByteArray good = status_frame(payload_430());
        for (int length : {0, 46, 200, 255}) {
            // Enough trailing bytes to overrun both buffers if the length were obeyed.
            QByteArray junk = hex("5052");
            junk.append(static_cast<char>(length));
            junk.append(QByteArray(300, '\x11'));
            const QList<Recorded_frame> frames = assemble({junk + good});
            QCOMPARE(frames.size(), 1);
            QVERIFY(frames[0].crc_ok);
            QCOMPARE(frames[0].payload, payload_430());
        }
        // The longest frame that fits still passes.
        const QByteArray longest(45, '\x30');
        const QList<Recorded_frame> frames = assemble({status_frame(longest)});
        QCOMPARE(frames.size(), 1);
        QVERIFY(frames[0].crc_ok);
        QCOMPARE(frames[0].payload, longest);
    }

    void payload_buffer_keeps_older_bytes_beyond_a_short_frame()
    {
        frame::Assembler assembler;
        const QByteArray stream = status_frame(QByteArray(10, '\x07')) + status_frame(QByteArray(3, '\x01'));
        for (char byte : stream)
            assembler.push(static_cast<uint8_t>(byte));
        QCOMPARE(assembler.payload_length(), uint8_t(3));
        QCOMPARE(assembler.payload()[2], uint8_t(1));
        QCOMPARE(assembler.payload()[3], uint8_t(7));
    }
};

TAVOLINK_TEST_MAIN(Tst_codec)
#include "tst_codec.moc"
