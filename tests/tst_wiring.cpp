// The whole tool in one process, talking to a box on a pseudo-terminal that stands in
// for the machine's first serial port: window switching, the port hand-over, and the
// order in which the shared signals reach both windows.
#include "mainwindow.h"
#include "mainwindow_431.h"
#include "port_namespace.h"
#include "pty_pair.h"
#include "serial_port.h"
#include "test_support.h"
#include "ui_mainwindow.h"

#include <QCheckBox>
#include <QLabel>
#include <QSettings>
#include <QTimer>
#include <QtTest>

struct MainWindow_probe
{
    static MainWindow_431* window_431(MainWindow& w) { return w.window_431; }

    static QTimer* link_timer(MainWindow& w) { return w.link_timer; }

    static bool connected(MainWindow& w) { return w.connected; }
};

namespace {

QString namespace_problem;

QByteArray frame_431(uint8_t flags = 0x01)
{
    return status_frame(payload_431(0x30, 0, flags));
}

QByteArray frame_430()
{
    QByteArray payload = payload_430();
    set_byte(payload, 12, 1);
    return status_frame(payload);
}

QByteArray frame_unknown()
{
    QByteArray payload = payload_430();
    set_byte(payload, 1, 0);
    set_byte(payload, 2, 0);
    return status_frame(payload);
}

// Records style changes of chosen labels in one list, in the order they happen: a
// style sheet change is delivered at once, so it shows which window's slot ran first.
class Style_order : public QObject
{
public:
    void watch(QWidget* widget, const QString& name)
    {
        widget->setProperty("watch_name", name);
        widget->installEventFilter(this);
    }

    QStringList order;

protected:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (event->type() == QEvent::StyleChange)
            order << object->property("watch_name").toString();
        return false;
    }
};

} // namespace

class Tst_wiring : public QObject
{
    Q_OBJECT

    std::unique_ptr<Pty_pair> box;

private slots:

    void init()
    {
        if (!namespace_problem.isEmpty())
            QSKIP(qPrintable("no stand-in serial port: " + namespace_problem));
        clear_settings_store();
        box = std::make_unique<Pty_pair>();
        QVERIFY(box->is_open());
        QVERIFY(port_namespace::place(box->slave_path()));
    }

    void cleanup() { box.reset(); }

    void first_frame_from_a_model_431_switches_windows_and_keeps_the_port()
    {
        MainWindow w;
        w.show();
        MainWindow_431* w431 = MainWindow_probe::window_431(w);
        QVERIFY(!w431->isVisible());
        Log_capture log;

        box->write(frame_431());
        QTRY_VERIFY(w431->isVisible());
        QVERIFY(!w.isVisible());
        QCOMPARE(w431->current_port_index(), 0);
        // Rescan (close, then reopen on the first port and save), hand-over (reopen,
        // save), and only then the decoder's own line.
        QCOMPARE(log.lines(),
                 (QStringList{"serial port closed", "serial port closed", "write 0", "SettingsWrite",
                              "serial port closed", "write 0", "SettingsWrite", "emit to 431"}));
        QCOMPARE(QSettings(QSettings::UserScope, "mirelo_serial_port", QString()).value("SerialPort/SerialPort"),
                 QVariant(0));
        QVERIFY(
            !QSettings(QSettings::UserScope, "mirelo_serial_port_431", QString()).contains("SerialPort/SerialPort"));

        // The reopened port still reaches the box.
        QByteArray next = payload_431(0x30, 1, 0x01);
        box->write(status_frame(next));
        QTRY_COMPARE(w431->findChild<QLabel*>("label_device")->text(), QString("MRL-QDC-431A"));
    }

    void alternating_models_switch_on_every_frame()
    {
        MainWindow w;
        w.show();
        MainWindow_431* w431 = MainWindow_probe::window_431(w);
        Log_capture log;

        box->write(frame_430());
        QTRY_COMPARE(w.findChild<QLabel*>("label_device")->text(), QString("MRL-QDC-430 "));
        QVERIFY(w.isVisible());
        box->write(frame_431());
        QTRY_VERIFY(w431->isVisible() && !w.isVisible());
        box->write(frame_430());
        QTRY_VERIFY(w.isVisible() && !w431->isVisible());

        // Several models in one chunk: the switch runs inside the receive call and the
        // rest of the chunk is still decoded afterwards.
        log.clear();
        box->write(frame_431() + frame_430() + frame_431());
        QTRY_COMPARE(log.lines().filter(QRegularExpression("^emit to")).size(), 3);
        QCOMPARE(log.lines().filter(QRegularExpression("^emit to")),
                 (QStringList{"emit to 431", "emit to 430", "emit to 431"}));
        QVERIFY(w431->isVisible());
        QVERIFY(!w.isVisible());
    }

    void unknown_box_in_between_switches_nothing_until_a_known_model_answers()
    {
        MainWindow w;
        w.show();
        MainWindow_431* w431 = MainWindow_probe::window_431(w);
        Log_capture log;

        box->write(frame_430() + frame_unknown());
        QTRY_COMPARE(w.findChild<QLabel*>("label_device")->text(), QString("Unknown"));
        QVERIFY(log.lines().filter(QRegularExpression("^emit to|SettingsWrite")).isEmpty());

        // The same model again counts as a change after an unknown one: the switch to
        // the window already shown runs once more, rescan and hand-over included.
        box->write(frame_430());
        QTRY_VERIFY(log.contains("emit to 430"));
        QVERIFY(w.isVisible());
        QVERIFY(!w431->isVisible());
        QCOMPARE(log.lines().filter("SettingsWrite").size(), 2);
    }

    void change_in_the_431_window_is_sent_while_the_430_window_is_hidden()
    {
        MainWindow w;
        w.show();
        MainWindow_probe::link_timer(w)->stop();
        MainWindow_431* w431 = MainWindow_probe::window_431(w);

        QByteArray payload = payload_431(0x30, 0, 0x01);
        set_byte(payload, 20, 2); // Group A: Out Gr3
        set_byte(payload, 21, 5); // Group B: Out Gr6
        box->write(status_frame(payload));
        QTRY_VERIFY(w431->isVisible());
        box->write(status_frame(payload));
        QTRY_COMPARE(w431->findChild<QLabel*>("label_device")->text(), QString("MRL-QDC-431 "));
        QMetaObject::invokeMethod(MainWindow_probe::link_timer(w), "timeout");
        QVERIFY(MainWindow_probe::connected(w));
        box->read(200);

        w431->findChild<QCheckBox*>("checkBox_mute_56")->click();
        const QByteArray sent = box->read(1000);
        QCOMPARE(sent.size(), 15);
        QCOMPARE(sent.mid(4, 9), QByteArray::fromHex("01AF 02 05 00 00 00 00 04"));
    }

    void shared_signals_reach_the_model_430_window_first()
    {
        MainWindow w;
        w.show();
        MainWindow_probe::link_timer(w)->stop();
        MainWindow_431* w431 = MainWindow_probe::window_431(w);
        Style_order styles;
        styles.watch(w.findChild<QLabel*>("label_crc_ctrl"), "430 crc");
        styles.watch(w431->findChild<QLabel*>("label_crc_ctrl"), "431 crc");
        styles.watch(w.findChild<QLabel*>("label_receiving_status"), "430 link");
        styles.watch(w431->findChild<QLabel*>("label_receiving_status"), "431 link");

        box->write(frame_431());
        QTRY_VERIFY(w431->isVisible());
        QCOMPARE(styles.order.mid(0, 2), (QStringList{"430 crc", "431 crc"}));

        styles.order.clear();
        QMetaObject::invokeMethod(MainWindow_probe::link_timer(w), "timeout");
        QCOMPARE(styles.order.filter("link"), (QStringList{"430 link", "431 link"}));
    }

    void closing_the_visible_window_quits_and_saves_the_model_430_settings()
    {
        auto w = std::make_unique<MainWindow>();
        w->show();
        w->move(321, 234);
        MainWindow_431* w431 = MainWindow_probe::window_431(*w);
        box->write(frame_431());
        QTRY_VERIFY(w431->isVisible());

        // With no visible top-level window left, the event loop ends.
        w431->close();
        for (QWidget* top : QApplication::topLevelWidgets())
            QVERIFY2(!top->isVisible(), qPrintable(top->objectName()));

        Log_capture log;
        w.reset();
        QCOMPARE(log.lines().mid(log.lines().size() - 2), (QStringList{"SettingsWrite", "Destructor MainWindow"}));
        QSettings store(QSettings::UserScope, "mirelo_serial_port_431", QString());
        QCOMPARE(store.value("SerialPort/SerialPort"), QVariant(0));
        QCOMPARE(store.value("MainWindow/pos").toPoint(), QPoint(321, 234));
    }
};

int main(int argc, char** argv)
{
    prepare_test_environment();
    // Before the application object starts any thread.
    namespace_problem = port_namespace::enter();
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false); // the test decides when to end
    Tst_wiring test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_wiring.moc"
