#pragma once

// What every test shares: the tool on stand-in serial ports, the box's end of each port,
// one probe into the window for what no door shows, and the debug log as lines.

#include "frame_codec.h"
#include "mainwindow.h"
#include "mainwindow_431.h"
#include "mainwindow_probe.h"
#include "pseudo_terminal.h"
#include "serial_port.h"
#include "status_layout.h"

#include <QApplication>
#include <QCheckBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

// Each test file ends with TAVOLINK_TEST(its class); the one main() runs it. Tests of the
// system's port list need the stand-in serial ports and skip where they cannot be made
// (without root); every other test opens its pseudo-terminal by path, as --port does.
QObject* make_test_object();
QString stand_in_problem();
// clang-format off
#define TAVOLINK_TEST(Class) QObject* make_test_object() { return new Class; }
#define REQUIRE_STAND_IN_PORTS() if (!stand_in_problem().isEmpty()) QSKIP(qPrintable(stand_in_problem()))
// clang-format on

// A model of the tests' own, in the table while every test runs: the model-430 layouts and
// window under another identifier, number and name.
extern const models::Model test_model;

// The private per-user store every test runs with: emptied, and read or written as a file,
// by the window's organisation name and a "group/key".
void clear_settings_store();
QVariant stored(const char* organisation, const char* key);
void store(const char* organisation, const char* key, const QVariant& value);

// Tests of the running tool: each starts from an empty store.
class Tool_test : public QObject
{
    Q_OBJECT

private slots:

    void init() { clear_settings_store(); }
};

// The box's end of stand-in port `index`, or of a pseudo-terminal the system does not list
// (index -1, opened by its path): status frames go in, settings frames come out.
class Box_end
{
public:
    explicit Box_end(int index);

    QString path() const { return pty->slave_path(); }

    // Returns once the tool has read all of it.
    void send(const QByteArray& bytes);

    void send(const status::Values& status) { send(frame::build_status_frame(status::encode(status))); }

    // Every settings frame the tool wrote, after up to `wait_ms` for the first byte.
    QList<QByteArray> frames(int wait_ms = 200);

    int slave() const { return pty->slave(); }

private:
    int index;
    std::unique_ptr<Pseudo_terminal> pty;
};

// A box the test plays on a pseudo-terminal of its own that a program opens by its path:
// a status frame each step unless silent; a settings frame is applied and acknowledged,
// ignored, or acknowledged but not applied; errors_go_on resets the CRC count, and new errors
// keep it where it was.
struct Box_player
{
    enum class Answer { apply, ignore, refuse, silent, errors_go_on };

    status::Values status;
    Answer answer = Answer::apply;
    Pseudo_terminal pty{Pseudo_terminal::Slave::hold};
    QByteArray written{}; // every byte the program sent
    QByteArray rest{};    // the end of a frame begun before the program sent: the box waits for it
    int answered = 0;

    // Takes in what the program wrote, answers it, and sends one status frame.
    void step();
    // Steps for `ms`, one every 5 ms.
    void play(int ms);
    void send(const QByteArray& bytes);
};

// The settings a frame carries, as the box reads them.
Settings_values settings_in(const QByteArray& frame);

// A model-430 status with an input (HD, 1080p50), or a model-431 status with one; the
// box's routing is the default one. Flag bits as the box sends them: 0x80 acknowledgement,
// 0x40 CRC count reset, 0x20 payload identifier, 0x10 CRC errors (430); 0x01 input and
// bits 3-1 audio channels (431).
status::Values status_430(uint8_t flags = 0x20);
status::Values status_431(uint8_t flags = 0x01);

// The tool with a box on each of two lines; the watchdog is ticked by hand. By path, the
// tool opens box 0's line as --port names it; listed, the lines are the stand-in ports and
// the model-430 window opens the stored one (port 0 in an empty store).
struct Rig
{
    enum class Lines { by_path, listed };
    explicit Rig(Lines lines = Lines::by_path);
    Box_end box[2];
    MainWindow window;
    MainWindow_probe probe{window};
    // A good status frame on port 0, then one watchdog period: the link is up.
    void link_up(const status::Values& status = status_430());

    QCheckBox* mute_12() { return window.findChild<QCheckBox*>("checkBox_mute_12"); }
};

// The debug log as lines, while an instance lives.
struct Log_capture
{
    Log_capture();
    ~Log_capture();
    QStringList lines;
    QStringList with_categories; // the same lines, each after its category and ": "
};

// Every status label of a window as "text|style sheet", by object name; with `changes`
// ("name pattern=text|style", the pattern after "label_") applied.
QMap<QString, QString> labels(const QWidget& window, const QStringList& changes = {});

// The control a user finds next to `caption` (a label's text or a button's own) inside
// a group box titled `group`.
QWidget* control(QWidget& window, const QString& group, const QString& caption);
