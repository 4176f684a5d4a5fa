// The shared test harness and the one main() of every test executable.
#include "harness.h"

#include "stand_in_ports.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#include <sys/ioctl.h>
#include <unistd.h>

namespace {

QString stand_in_ports_problem;
Log_capture* capturing = nullptr;
QtMessageHandler previous_handler = nullptr;

void capture(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtDebugMsg) {
        capturing->lines.append(message);
        capturing->with_categories.append(QString::fromLatin1(context.category) + ": " + message);
    } else
        previous_handler(type, context, message);
}

QString store_path(const char* organisation)
{
    return qEnvironmentVariable("XDG_CONFIG_HOME") + '/' + organisation + ".conf";
}

} // namespace

QString stand_in_problem()
{
    return stand_in_ports_problem;
}

void clear_settings_store()
{
    const QString dir = qEnvironmentVariable("XDG_CONFIG_HOME");
    QVERIFY(dir.startsWith(QDir::tempPath()));
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
}

QVariant stored(const char* organisation, const char* key)
{
    return QSettings(store_path(organisation), QSettings::IniFormat).value(key);
}

void store(const char* organisation, const char* key, const QVariant& value)
{
    QSettings(store_path(organisation), QSettings::IniFormat).setValue(key, value);
}

Box_end::Box_end(int index)
    : index(index)
    , pty(std::make_unique<Pseudo_terminal>())
{
    if (index >= 0)
        stand_in_ports::place(index, pty->slave_path());
}

void Box_end::send(const QByteArray& bytes)
{
    QVERIFY(::write(pty->master(), bytes.constData(), static_cast<size_t>(bytes.size())) == bytes.size());
    // Until the tool has read everything the line holds for it.
    for (int unread = 1, round = 0; unread > 0 && round < 500; ++round) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        ioctl(slave(), FIONREAD, &unread);
    }
    QTest::qWait(5);
}

QList<QByteArray> Box_end::frames(int wait_ms)
{
    QByteArray bytes;
    QElapsedTimer clock;
    clock.start();
    for (int quiet_ms = wait_ms; clock.elapsed() < quiet_ms;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        char buffer[512];
        const ssize_t n = ::read(pty->master(), buffer, sizeof buffer);
        if (n > 0) {
            bytes.append(buffer, static_cast<int>(n));
            clock.restart();
            quiet_ms = 30;
        }
    }
    QList<QByteArray> frames;
    while (bytes.size() >= 3) {
        const int size = static_cast<uint8_t>(bytes[2]) + static_cast<int>(frame::envelope_size);
        frames << bytes.left(size);
        bytes.remove(0, size);
    }
    return frames;
}

void Box_player::step()
{
    char buffer[256];
    for (ssize_t n; (n = ::read(pty.master(), buffer, sizeof buffer)) > 0;)
        written.append(buffer, static_cast<int>(n));
    if (!rest.isEmpty() && written.isEmpty())
        return;
    send(std::exchange(rest, QByteArray()));
    for (; answered + 3 <= written.size(); answered += static_cast<uint8_t>(written[answered + 2]) + 5) {
        const Settings_values sent = frame::parse_settings_frame(written.mid(answered)).values;
        status.flags |= answer == Answer::ignore ? 0 : status::flag::ack;
        if ((answer == Answer::apply || answer == Answer::errors_go_on) && sent.crc_errors_reset)
            status.crc_err_count *= answer == Answer::errors_go_on, status.flags |= status::flag::crc_reset_done;
        if (answer == Answer::apply)
            status.settings = sent; // a model-431 status carries only the group routing
    }
    if (answer != Answer::silent)
        send(frame::build_status_frame(status::encode(status)));
    status.flags &= static_cast<uint8_t>(~(status::flag::ack | status::flag::crc_reset_done));
}

void Box_player::play(int ms)
{
    QElapsedTimer clock;
    for (clock.start(); clock.elapsed() < ms; QTest::qSleep(5))
        step();
}

// While nobody reads, a pseudo-terminal's buffer fills, and how soon is the kernel's business:
// what it does not take is lost, as on a line.
void Box_player::send(const QByteArray& bytes)
{
    [[maybe_unused]] const ssize_t taken = ::write(pty.master(), bytes.constData(), static_cast<size_t>(bytes.size()));
}

Settings_values settings_in(const QByteArray& frame)
{
    return frame::parse_settings_frame(frame).values;
}

status::Values status_430(uint8_t flags)
{
    status::Values s;
    s.device_id = frame::device_id_430;
    s.flags = flags;
    s.input_detected = 1;
    s.pid = {0x85, 0xC9, 0x00, 0x01};
    static_cast<Bank_routing&>(s.settings) = default_bank_routing;
    static_cast<Group_routing&>(s.settings) = default_group_routing;
    return s;
}

status::Values status_431(uint8_t flags)
{
    status::Values s;
    s.device_id = frame::device_id_431;
    s.flags = flags;
    static_cast<Group_routing&>(s.settings) = default_group_routing;
    return s;
}

Rig::Rig(Lines lines)
    : box{Box_end(lines == Lines::listed ? 0 : -1), Box_end(lines == Lines::listed ? 1 : -1)}
    , window(nullptr, lines == Lines::listed ? QString() : box[0].path())
{
    probe.link_timer().stop();
    window.show();
    QTest::qWait(5);
}

void Rig::link_up(const status::Values& status)
{
    box[0].send(status);
    probe.tick();
}

Log_capture::Log_capture()
{
    capturing = this;
    previous_handler = qInstallMessageHandler(capture);
}

Log_capture::~Log_capture()
{
    qInstallMessageHandler(previous_handler);
}

QMap<QString, QString> labels(const QWidget& window, const QStringList& changes)
{
    QMap<QString, QString> shown;
    for (const QLabel* label : window.findChildren<QLabel*>(QRegularExpression("^label_[a-z]")))
        shown[label->objectName()] = label->text() + '|' + label->styleSheet();
    for (const QString& change : changes) {
        const QRegularExpression name("^label_" + change.section('=', 0, 0) + '$');
        for (auto it = shown.begin(); it != shown.end(); ++it)
            if (name.match(it.key()).hasMatch())
                it.value() = change.section('=', 1);
    }
    return shown;
}

QWidget* control(QWidget& window, const QString& group, const QString& caption)
{
    for (QGroupBox* box : window.findChildren<QGroupBox*>()) {
        if (box->title() != group)
            continue;
        for (QAbstractButton* button : box->findChildren<QAbstractButton*>())
            if (button->text() == caption)
                return button;
        for (QLabel* label : box->findChildren<QLabel*>()) {
            if (label->text() != caption)
                continue;
            // The nearest combo box on the caption's row, to its right.
            const QPoint row = label->mapTo(box, QPoint(label->width(), label->height() / 2));
            QComboBox* nearest = nullptr;
            for (QComboBox* combo : box->findChildren<QComboBox*>()) {
                const QRect area(combo->mapTo(box, QPoint()), combo->size());
                if (area.left() >= row.x() && area.top() <= row.y() && area.bottom() >= row.y()
                    && (!nearest || area.left() < nearest->mapTo(box, QPoint()).x()))
                    nearest = combo;
            }
            if (nearest)
                return nearest;
        }
    }
    return nullptr;
}

const models::Model test_model = {0x7E57,
                                  999,
                                  QStringLiteral("TEST-999"),
                                  models::Status_layout::m430,
                                  models::Settings_layout::all_settings,
                                  models::Window::mainwindow};

int main(int argc, char** argv)
{
    models::add(test_model);
    // Before any thread starts: two listed serial ports, each a pseudo-terminal of ours.
    stand_in_ports_problem = stand_in_ports::enter(2);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config, runtime;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    QApplication app(argc, argv);
    std::unique_ptr<QObject> test(make_test_object());
    return QTest::qExec(test.get(), argc, argv);
}
