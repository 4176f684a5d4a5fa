#include "test_support.h"

#include "frame_codec.h"
#include "port_namespace.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QTemporaryDir>
#include <QtGlobal>

namespace {

QStringList captured;
QtMessageHandler previous_handler = nullptr;

void capture(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    // The tool's log is its debug lines; Qt's own warnings (platform plugin notes) are not.
    if (type == QtDebugMsg)
        captured.append(message);
    if (previous_handler && qEnvironmentVariableIsSet("TAVOLINK_TEST_ECHO"))
        previous_handler(type, context, message);
}

QByteArray common_payload(int size, uint16_t device_id, uint8_t protocol_version, uint8_t variant, uint8_t flags)
{
    QByteArray payload(size, '\0');
    set_byte(payload, 0, protocol_version);
    set_byte(payload, 1, device_id >> 8);
    set_byte(payload, 2, device_id & 0xFF);
    set_byte(payload, 3, variant);
    set_byte(payload, 4, flags);
    return payload;
}

} // namespace

Log_capture::Log_capture()
{
    captured.clear();
    previous_handler = qInstallMessageHandler(capture);
}

Log_capture::~Log_capture()
{
    qInstallMessageHandler(previous_handler);
}

QStringList Log_capture::lines() const
{
    return captured;
}

void Log_capture::clear()
{
    captured.clear();
}

void clear_settings_store()
{
    const QString dir = qEnvironmentVariable("TAVOLINK_TEST_CONFIG");
    // Never touch a real user's store: only the directory the test set up.
    if (dir.isEmpty())
        qFatal("tests must run with a private settings store");
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
}

void prepare_test_environment()
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!qEnvironmentVariableIsSet("TAVOLINK_TEST_CONFIG")) {
        static QTemporaryDir config_dir;
        qputenv("TAVOLINK_TEST_CONFIG", config_dir.path().toLocal8Bit());
    }
    // The per-user store lives under XDG_CONFIG_HOME; point it at the private one.
    qputenv("XDG_CONFIG_HOME", qgetenv("TAVOLINK_TEST_CONFIG"));
    // Where the machine allows it, real serial ports are out of every test's reach.
    port_namespace::enter();
}

QByteArray status_frame(const QByteArray& payload)
{
    return frame::build_status_frame(payload);
}

QByteArray payload_430(uint8_t protocol_version, uint8_t variant, uint8_t flags)
{
    return common_payload(35, frame::device_id_430, protocol_version, variant, flags);
}

QByteArray payload_431(uint8_t protocol_version, uint8_t variant, uint8_t flags)
{
    return common_payload(27, frame::device_id_431, protocol_version, variant, flags);
}

QStringList combo_items(const QComboBox* combo)
{
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts << combo->itemText(i);
    return texts;
}

QMap<QString, QString> shown_labels(const QWidget& window)
{
    QMap<QString, QString> shown;
    for (const QLabel* label : window.findChildren<QLabel*>())
        if (!label->objectName().isEmpty())
            shown[label->objectName()] = label->text() + '|' + label->styleSheet();
    return shown;
}

QString label_mismatches(const QWidget& window, QMap<QString, QString> before, const QStringList& changes)
{
    for (const QString& change : changes)
        before[change.section('=', 0, 0)] = change.section('=', 1);
    const QMap<QString, QString> shown = shown_labels(window);
    QStringList mismatches;
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        if (shown.value(it.key()) != it.value())
            mismatches << it.key() + ": shown \"" + shown.value(it.key()) + "\", expected \"" + it.value() + '"';
    return mismatches.join('\n');
}
