// Which browsers WINWARDEN_DEVTOOLS names, and which entries are refused.
#include "platform/devtoolsendpoints.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <cstdio>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace winwarden {

namespace {

QStringList RefusedEntries(const DevToolsEndpoints& parsed) {
    QStringList entries;
    for (const RefusedEndpoint& refused : parsed.refused) {
        entries.append(refused.entry);
    }
    return entries;
}

} // namespace

class EndpointsTest final : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString WriteFile(const QString& name, const QByteArray& content) {
        QFile file(m_dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
            return {};
        }
        return file.fileName();
    }

private Q_SLOTS:
    void hostsAndPorts_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QStringList>("endpoints");
        QTest::addColumn<QStringList>("refused");
        const QStringList none;
        QTest::newRow("unset") << QString() << QStringList{u"127.0.0.1:9222"_s} << none;
        QTest::newRow("blank") << u" "_s << QStringList{u"127.0.0.1:9222"_s} << none;
        QTest::newRow("loopback forms")
            << u"127.0.0.1:9222, localhost:9333,[::1]:9444,127.8.9.10:1,LocalHost:65535"_s
            << QStringList{u"127.0.0.1:9222"_s, u"localhost:9333"_s, u"[::1]:9444"_s,
                           u"127.8.9.10:1"_s, u"LocalHost:65535"_s}
            << none;
        QTest::newRow("duplicates and empty entries")
            << u"127.0.0.1:9222,, 127.0.0.1:9222 ,"_s << QStringList{u"127.0.0.1:9222"_s} << none;
        const QStringList refusedHosts{
            u"10.0.0.1:9222"_s,           u"example.com:9222"_s, u"127.1:9222"_s,
            u"[::ffff:127.0.0.1]:9222"_s, u"::1:9222"_s,         u"0.0.0.0:9222"_s,
            u"128.0.0.1:9222"_s,          u"127.0.0.1:0"_s,      u"127.0.0.1:65536"_s,
            u"127.0.0.1:http"_s,          u"127.0.0.1:"_s,       u"localhost:9222:1"_s};
        QTest::newRow("refused, the rest kept") << (refusedHosts.join(u',') + u",127.0.0.1:9223"_s)
                                                << QStringList{u"127.0.0.1:9223"_s} << refusedHosts;
    }

    void hostsAndPorts() {
        QFETCH(QString, value);
        QFETCH(QStringList, endpoints);
        QFETCH(QStringList, refused);
        const DevToolsEndpoints parsed = ParseDevToolsEndpoints(value);
        QCOMPARE(parsed.endpoints, endpoints);
        QCOMPARE(RefusedEntries(parsed), refused);
        for (const RefusedEndpoint& entry : parsed.refused) {
            QVERIFY(!entry.reason.isEmpty());
        }
    }

    void activePortFiles() {
        QVERIFY(m_dir.isValid());
        const QString good = WriteFile(u"DevToolsActivePort"_s, "41234\n/devtools/browser/x\n");
        const QString bad = WriteFile(u"NotAPort"_s, "/devtools/browser/x\n41234\n");
        const QString missing = m_dir.filePath(u"missing"_s);
        const DevToolsEndpoints parsed =
            ParseDevToolsEndpoints(u"127.0.0.1:9000,%1,%2,%3"_s.arg(bad, good, missing));
        QCOMPARE(parsed.endpoints, QStringList({u"127.0.0.1:9000"_s, u"127.0.0.1:41234"_s}));
        QCOMPARE(RefusedEntries(parsed), QStringList({bad, missing}));
    }

    // A refused entry is reported once, however often the browsers are listed.
    void refusalsAreReportedOncePerEntry() {
        QTemporaryFile capture;
        QVERIFY(capture.open());
        std::fflush(stderr);
        const int saved = ::dup(STDERR_FILENO);
        ::dup2(capture.handle(), STDERR_FILENO);
        qputenv("WINWARDEN_DEVTOOLS", "10.9.9.9:1,127.0.0.1:9,10.9.9.9:1,/nonexistent/port");
        QStringList watched;
        for (int pass = 0; pass < 3; ++pass) {
            watched = WatchedDevToolsEndpoints();
        }
        std::fflush(stderr);
        ::dup2(saved, STDERR_FILENO);
        ::close(saved);
        qunsetenv("WINWARDEN_DEVTOOLS");

        QCOMPARE(watched, QStringList{u"127.0.0.1:9"_s});
        capture.seek(0);
        const QList<QByteArray> lines = capture.readAll().trimmed().split('\n');
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines[0].contains("\"10.9.9.9:1\""));
        QVERIFY(lines[1].contains("\"/nonexistent/port\""));
    }
};

} // namespace winwarden

QTEST_GUILESS_MAIN(winwarden::EndpointsTest)
#include "test_endpoints.moc"
