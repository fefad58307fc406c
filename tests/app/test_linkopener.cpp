// Web addresses go to the desktop's opener; one that no browser takes is shown in a box. The
// opener here is a stand-in that ends with the status the test gives it.
#include "app/linkopener.h"
#include "tests/support/modalanswer.h"

#include <QDesktopServices>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace winwarden;
using namespace Qt::StringLiterals;

class TestLinkOpener final : public QObject {
    Q_OBJECT

    QTemporaryDir m_bin;

private Q_SLOTS:
    void initTestCase() {
        QFile opener(m_bin.filePath(u"xdg-open"_s));
        QVERIFY(opener.open(QIODevice::WriteOnly) &&
                opener.write("#!/bin/sh\necho \"$1\" >>\"$0.seen\"\nexit $OPENER_STATUS\n") > 0);
        opener.setPermissions(opener.permissions() | QFileDevice::ExeOwner);
        opener.close();
        qputenv("PATH", QFile::encodeName(m_bin.path()) + ":/usr/bin:/bin");
    }

    // A browser that took the address: nothing to say. None did: the address, in a box.
    void failureIsShownWithTheAddress() {
        QWidget owner;
        LinkOpener links(&owner);
        QStringList boxes;
        test::ModalAnswer answer({[&boxes](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            boxes << (box ? box->objectName() + u'|' + box->text().section(u'\n', 1) : u"?"_s);
            modal->close();
        }});
        for (const char* status : {"0", "4"}) {
            qputenv("OPENER_STATUS", status);
            QVERIFY(QDesktopServices::openUrl(QUrl(u"https://a.example/?q=%E4%B8%AD"_s)));
            QTRY_VERIFY(links.findChildren<QProcess*>().isEmpty());
        }
        QTRY_COMPARE(boxes, QStringList{u"linkNotOpenedBox|https://a.example/?q=中"_s});
        QFile seen(m_bin.filePath(u"xdg-open.seen"_s));
        QVERIFY(seen.open(QIODevice::ReadOnly));
        QCOMPARE(seen.readAll(), QByteArray("https://a.example/?q=%E4%B8%AD\n").repeated(2));
    }
};

QTEST_MAIN(TestLinkOpener)
#include "test_linkopener.moc"
