// One copy per user and rule database, over a private runtime folder.
#include "app/singleinstance.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <thread>

using namespace winwarden;
using namespace Qt::StringLiterals;

class TestSingleInstance final : public QObject {
    Q_OBJECT

    QTemporaryDir m_runtime, m_work;

private Q_SLOTS:
    void initTestCase() {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
        QDir::setCurrent(m_work.path());
        QVERIFY(QDir().mkdir(u"other"_s));
    }

    // A socket left by a crashed copy is taken over; a later copy of the same database, however
    // its path is spelled, hands over to the first; another database has a copy of its own.
    void firstCopyListensLaterOnesHandOver() {
        SingleInstance first(u"winwarden.mdb"_s);
        QFile stale(first.SocketPath());
        QVERIFY(stale.open(QIODevice::WriteOnly)); // nothing listens on a plain file
        stale.close();
        QCOMPARE(first.ClaimDatabase(), SingleInstance::Claim::First);
        QVERIFY(!QFileInfo(first.SocketPath()).isFile());
        QSignalSpy shown(&first, &SingleInstance::showRequested);
        // The later copy blocks while it waits for the answer: it runs beside the event loop.
        SingleInstance::Claim later = SingleInstance::Claim::First;
        std::thread second([&later, path = m_work.filePath(u"other/../winwarden.mdb"_s)] {
            later = SingleInstance(path).ClaimDatabase();
        });
        QTRY_COMPARE(shown.size(), 1);
        second.join();
        QCOMPARE(later, SingleInstance::Claim::HandedOver);
        SingleInstance elsewhere(u"other/winwarden.mdb"_s);
        QVERIFY(elsewhere.SocketPath() != first.SocketPath());
        QCOMPARE(elsewhere.ClaimDatabase(), SingleInstance::Claim::First);
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "test_singleinstance.moc"
