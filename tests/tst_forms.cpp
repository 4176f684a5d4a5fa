// Both forms at the interface font: every caption, and the longest texts the value labels
// can show, readable whole in their boxes; both windows titled "Tavolink".
#include "harness.h"
#include "interface_font.h"
#include "ui_mainwindow.h"
#include "ui_mainwindow_431.h"

#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>

namespace {

// `text`, its width and its room when it is wider than the room `widget` gives it: a label's
// contents, beside a check box's indicator, inside a button's frame, a group box's title gap.
QString clipped(QWidget* widget, const QString& text)
{
    if (QLayout* layout = widget->parentWidget()->layout())
        layout->activate(); // a label's new text may move the columns of its grid
    QStyleOptionButton button;
    button.initFrom(widget);
    QStyleOptionGroupBox box;
    box.initFrom(widget);
    box.text = text;
    box.subControls = QStyle::SC_GroupBoxLabel;
    const QStyle* style = widget->style();
    const int room = qobject_cast<QCheckBox*>(widget)
        ? style->subElementRect(QStyle::SE_CheckBoxContents, &button, widget).width()
        : qobject_cast<QPushButton*>(widget)
        ? style->subElementRect(QStyle::SE_PushButtonContents, &button, widget).width()
        : qobject_cast<QGroupBox*>(widget)
        ? style->subControlRect(QStyle::CC_GroupBox, &box, QStyle::SC_GroupBoxLabel, widget).width()
        : widget->contentsRect().width();
    const int width = widget->fontMetrics().horizontalAdvance(text);
    return width <= room ? QString() : QString("\"%1\" %2 > %3; ").arg(text).arg(width).arg(room);
}

} // namespace

class Tst_forms : public QObject
{
    Q_OBJECT

private slots:

    void texts_fit_data()
    {
        QTest::addColumn<bool>("model_431");
        QTest::addColumn<QString>("values"); // the longest texts of value labels: "object name=text|text;"
        QTest::newRow("430")
            << false
            << "label_device=MRL-QDC-430A|MRL-QDC-430 (255);label_type=Unknown;label_frame=59.94p;"
               "label_mapping=YCbCrA:4444:10|YCbCrD:4444:12;label_pid_detected=Detected is Ok|Not Detected";
        QTest::newRow("431") << true
                             << "label_device=MRL-QDC-431 (255);label_type=8.92G|Unknown;label_frame=120p;"
                                "label_mapping=YCbCr:422 48 bit;label_aud_channels=Unknown;label_aud_freq=176.4kHz";
    }

    void texts_fit()
    {
        QFETCH(bool, model_431);
        QFETCH(QString, values);
        QApplication::setFont(interface_font());
        QMainWindow window;
        model_431 ? Ui_MainWindow_431().setupUi(&window) : Ui_MainWindow().setupUi(&window);
        QVERIFY(window.windowTitle().contains("Tavolink"));
        QString problems;
        for (QWidget* widget : window.findChildren<QWidget*>())
            problems +=
                clipped(widget, widget->property(qobject_cast<QGroupBox*>(widget) ? "title" : "text").toString());
        values +=
            ";label_protocol_ver=2.1, Version mistmatch;label_crc_ctrl=Mistmatch;label_resolution=3840x2160|Unknown";
        for (const QString& value : values.split(';')) {
            auto* label = window.findChild<QLabel*>(value.section('=', 0, 0));
            QVERIFY2(label, qPrintable(value));
            for (const QString& text : value.section('=', 1).split('|')) {
                label->setText(text);
                problems += clipped(label, text);
            }
        }
        QVERIFY2(problems.isEmpty(), qPrintable(problems));
    }
};

TAVOLINK_TEST(Tst_forms)

#include "tst_forms.moc"
