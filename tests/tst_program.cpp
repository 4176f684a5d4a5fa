// The built tool as a separate process, on a real X display, against the simulated box
// on a pseudo-terminal that stands in for the machine's first serial port.
#include "port_namespace.h"
#include "test_support.h"
#include "x11_window.h"

#include <QProcess>
#include <QSettings>
#include <QtTest>

namespace {

QString namespace_problem;

// The tool's debug log, read from its standard error as it runs.
class Tool_log
{
public:
    explicit Tool_log(QProcess& process)
        : process(process)
    {}

    QStringList lines()
    {
        buffer += QString::fromLocal8Bit(process.readAllStandardError());
        QStringList all = buffer.split('\n', Qt::SkipEmptyParts);
        return all;
    }

    bool contains(const QString& line) { return lines().contains(line); }

private:
    QProcess& process;
    QString buffer;
};

} // namespace

class Tst_program : public QObject
{
    Q_OBJECT

private slots:

    void initTestCase()
    {
        if (!namespace_problem.isEmpty())
            QSKIP(qPrintable("cannot stand the simulated box in for a serial port: " + namespace_problem));
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("no X display: run this test under xvfb-run");
        QVERIFY2(QFile::exists(TAVOLINK_PATH), TAVOLINK_PATH);
        QVERIFY2(QFile::exists(BOXSIM_PATH), BOXSIM_PATH);
    }

    void switches_windows_and_saves_its_settings_on_close()
    {
        clear_settings_store();

        QProcess box;
        box.start(BOXSIM_PATH, {"--model", "430", "--rate", "20", "--duration", "60"});
        QVERIFY(box.waitForStarted());
        QString pty;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const QString said = QString::fromLocal8Bit(box.readAllStandardOutput() + box.readAllStandardError());
                const QRegularExpressionMatch match = QRegularExpression("pty (/dev/pts/\\d+)").match(said);
                if (match.hasMatch())
                    pty = match.captured(1);
                return !pty.isEmpty();
            }(),
            5000);
        QVERIFY(port_namespace::place(pty));

        QProcess tool;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "xcb");
        tool.setProcessEnvironment(environment);
        tool.start(TAVOLINK_PATH, QStringList());
        QVERIFY(tool.waitForStarted());
        Tool_log log(tool);

        QTRY_VERIFY_WITH_TIMEOUT(log.contains("byte_received is ok"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(window_shown("Tavolink"), 5000);

        box.write("431\n");
        QTRY_VERIFY_WITH_TIMEOUT(log.contains("emit to 431"), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(window_shown("MainWindow") && !window_shown("Tavolink"), 5000);

        box.write("430\n");
        QTRY_VERIFY_WITH_TIMEOUT(log.contains("emit to 430"), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(window_shown("Tavolink") && !window_shown("MainWindow"), 5000);
        // The link survived both switches: the watchdog keeps seeing frames.
        const int ok_before = log.lines().count("byte_received is ok");
        QTRY_VERIFY_WITH_TIMEOUT(log.lines().count("byte_received is ok") > ok_before, 5000);

        QVERIFY(request_window_close("Tavolink"));
        QVERIFY(tool.waitForFinished(10000));
        const QStringList lines = log.lines();
        const QString tail = lines.mid(qMax(0, lines.size() - 40)).join('\n');
        QVERIFY2(tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0, qPrintable(tail));
        QCOMPARE(lines.mid(lines.size() - 2), (QStringList{"SettingsWrite", "Destructor MainWindow"}));

        QSettings store(QSettings::UserScope, "mirelo_serial_port_431", QString());
        QCOMPARE(store.value("SerialPort/SerialPort"), QVariant(0));
        QVERIFY(store.contains("MainWindow/pos"));

        box.write("quit\n");
        if (!box.waitForFinished(3000))
            box.kill();
    }
};

int main(int argc, char** argv)
{
    prepare_test_environment();
    namespace_problem = port_namespace::enter();
    QCoreApplication app(argc, argv);
    Tst_program test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_program.moc"
