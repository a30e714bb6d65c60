// The About dialog: the name and version line, its logos and its fixed size.
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include "dialogs/dialogabout.h"

class TestDialogAbout : public QObject
{
    Q_OBJECT
private slots:
    void content()
    {
        DialogAbout dialog;
        QCOMPARE(dialog.findChild<QLabel*>("label_3")->text(),
            QStringLiteral("Tarnel - Ostrivel\n                                             v1.4.2.0"));
        QCOMPARE(dialog.findChild<QLabel*>("label")->pixmap(Qt::ReturnByValue).size(), QSize(320, 118));
        QCOMPARE(dialog.findChild<QLabel*>("label_2")->pixmap(Qt::ReturnByValue).size(), QSize(320, 185));
        QCOMPARE(dialog.minimumSize(), QSize(720, 493));
        QCOMPARE(dialog.maximumSize(), QSize(720, 493));

        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.findChild<QPushButton*>("pushButton")->click();
        QVERIFY(!dialog.isVisible());
    }
};

QTEST_MAIN(TestDialogAbout)
#include "tst_dialogabout.moc"
