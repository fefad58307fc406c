// winwarden-browser with a temporary home: which browsers get a host manifest, what it says,
// and that uninstall leaves the home as it was.
#include "platform/bridgeprotocol.h"
#include "tests/support/nativehost.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace winwarden;
using namespace Qt::StringLiterals;

namespace {

// Every path under `root` with its file's contents.
QStringList Tree(const QString& root) {
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        entries.append(
            path + u' ' +
            (file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString()));
    }
    entries.sort();
    return entries;
}

QJsonObject ReadJson(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object()
                                          : QJsonObject();
}

} // namespace

class TestWinwardenBrowser final : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_home;
    QTemporaryDir m_bin;

    int Run(const QStringList& arguments, QString* output = nullptr) {
        QProcess tool;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"HOME"_s, m_home.path());
        environment.insert(u"PATH"_s, m_bin.path());
        environment.remove(u"XDG_CONFIG_HOME"_s);
        tool.setProcessEnvironment(environment);
        tool.start(QCoreApplication::applicationDirPath() + u"/../tools/winwarden-browser"_s,
                   arguments);
        tool.waitForFinished(10000);
        if (output != nullptr) {
            *output = QString::fromUtf8(tool.readAllStandardOutput());
        }
        return tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    }

private Q_SLOTS:
    void installsForTheBrowsersFoundAndUninstallsExactly() {
        // Chrome is on the PATH, Brave and Firefox have their folders; Chromium has neither.
        QFile chrome(m_bin.filePath(u"google-chrome"_s));
        QVERIFY(chrome.open(QIODevice::WriteOnly));
        chrome.setPermissions(QFile::ExeOwner | QFile::ReadOwner);
        chrome.close();
        QVERIFY(QDir(m_home.path()).mkpath(u".config/BraveSoftware/Brave-Browser/Default"_s));
        QVERIFY(QDir(m_home.path()).mkpath(u".mozilla/firefox"_s));
        const QStringList before = Tree(m_home.path());

        QCOMPARE(Run({u"install"_s, u"--host"_s, m_home.filePath(u"missing"_s)}), 1);
        QCOMPARE(Tree(m_home.path()), before);
        const QString host = QFileInfo(test::HostProgram()).canonicalFilePath();
        QCOMPARE(Run({u"install"_s, u"--host"_s, host}), 0);
        const QString origin = test::AllowedOrigin();
        for (const QString& folder :
             {u".config/google-chrome/NativeMessagingHosts"_s,
              u".config/BraveSoftware/Brave-Browser/NativeMessagingHosts"_s}) {
            const QJsonObject manifest =
                ReadJson(m_home.filePath(folder + u"/net.winwarden.host.json"_s));
            QCOMPARE(manifest[u"name"].toString(), QLatin1StringView(kBridgeHostName));
            QCOMPARE(manifest[u"path"].toString(), host);
            QCOMPARE(manifest[u"type"].toString(), u"stdio"_s);
            QCOMPARE(manifest[u"allowed_origins"].toArray(), QJsonArray{origin});
        }
        const QJsonObject firefox =
            ReadJson(m_home.filePath(u".mozilla/native-messaging-hosts/net.winwarden.host.json"_s));
        QCOMPARE(firefox[u"allowed_extensions"].toArray(),
                 QJsonArray{QLatin1StringView(kBridgeGeckoId)});
        QVERIFY(!QFileInfo::exists(m_home.filePath(u".config/chromium"_s)));

        QString status;
        QCOMPARE(Run({u"status"_s}, &status), 0);
        QCOMPARE(status.count(u"用户主机清单"_s), 3);
        QCOMPARE(status.count(u"未找到浏览器"_s), 3);

        QCOMPARE(Run({u"uninstall"_s}), 0);
        QCOMPARE(Tree(m_home.path()), before);
        QCOMPARE(Run({u"frobnicate"_s}), 2);
    }
};

QTEST_GUILESS_MAIN(TestWinwardenBrowser)
#include "test_winwardenbrowser.moc"
