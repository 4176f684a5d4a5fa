#pragma once

#include <QApplication>
#include <QByteArray>
#include <QMap>
#include <QStringList>
#include <QtTest>

#include <cstdint>

class QComboBox;

// The debug log as lines, captured while an instance lives.
class Log_capture
{
public:
    Log_capture();
    ~Log_capture();
    Log_capture(const Log_capture&) = delete;
    Log_capture& operator=(const Log_capture&) = delete;

    QStringList lines() const;

    bool contains(const QString& line) const { return lines().contains(line); }

    void clear();
};

// Offscreen platform and a private settings store, before the application object
// exists, so that running a test binary by hand never touches the user's real store.
void prepare_test_environment();

#define TAVOLINK_TEST_MAIN(TestClass)                                                                                  \
    int main(int argc, char** argv)                                                                                    \
    {                                                                                                                  \
        prepare_test_environment();                                                                                    \
        QApplication app(argc, argv);                                                                                  \
        TestClass test;                                                                                                \
        return QTest::qExec(&test, argc, argv);                                                                        \
    }

// Starts each test case from an empty per-user settings store.
void clear_settings_store();

// A box-to-host frame around `payload`: "P" "R", length, payload, CRC.
QByteArray status_frame(const QByteArray& payload);

// A model-430 status payload of 35 bytes; the arguments fill the common part and the
// rest is zero, ready to be patched at its payload offsets.
QByteArray payload_430(uint8_t protocol_version = 0x30, uint8_t variant = 0, uint8_t flags = 0);
// A model-431 status payload of 27 bytes, likewise.
QByteArray payload_431(uint8_t protocol_version = 0x30, uint8_t variant = 0, uint8_t flags = 0);

inline void set_byte(QByteArray& bytes, int offset, int value)
{
    bytes[offset] = static_cast<char>(value);
}

// The item texts of a combo box, in order.
QStringList combo_items(const QComboBox* combo);

// Every named label of `window` as "text|style sheet", by object name.
QMap<QString, QString> shown_labels(const QWidget& window);

// Where the labels of `window` differ from `before` with `changes` ("name=text|style")
// applied, one line per label; empty when every label matches.
QString label_mismatches(const QWidget& window, QMap<QString, QString> before, const QStringList& changes);
