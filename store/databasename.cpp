#include "store/databasename.h"

#include "store/rulestore.h"
#include "store/storeerror.h"

namespace winwarden {

namespace {

const QString kSchemes[] = {QStringLiteral("postgresql://"), QStringLiteral("postgres://")};

QString Decoded(QStringView text) {
    return QString::fromUtf8(QByteArray::fromPercentEncoding(text.toUtf8()));
}

StoreError BadUri(const QString& display, const QString& why) {
    return StoreError(QStringLiteral("bad-uri"),
                      QStringLiteral("无法识别的数据库地址 %1：%2").arg(display, why));
}

bool IsKeyword(const QString& key) {
    if (key.isEmpty()) {
        return false;
    }
    for (const QChar c : key) {
        if (!(c.isLower() && c.unicode() < 0x80) && c != u'_') {
            return false;
        }
    }
    return true;
}

// host[:port], a bracketed IPv6 address keeping its colons.
void SplitHost(QStringView spec, QStringList& hosts, QStringList& ports) {
    qsizetype colon = -1;
    if (spec.startsWith(u'[')) {
        const qsizetype close = spec.indexOf(u']');
        hosts.append(Decoded(spec.mid(1, close < 0 ? -1 : close - 1)));
        colon = close < 0 ? -1 : spec.indexOf(u':', close);
        ports.append(colon < 0 ? QString() : Decoded(spec.mid(colon + 1)));
        return;
    }
    colon = spec.lastIndexOf(u':');
    hosts.append(Decoded(colon < 0 ? spec : spec.left(colon)));
    ports.append(colon < 0 ? QString() : Decoded(spec.mid(colon + 1)));
}

DatabaseLocation ParseUri(const QString& name, const QString& scheme) {
    DatabaseLocation location;
    location.engine = DatabaseLocation::Engine::Postgres;
    QStringView rest = QStringView(name).mid(scheme.size());
    QStringView query;
    if (const qsizetype mark = rest.indexOf(u'?'); mark >= 0) {
        query = rest.mid(mark + 1);
        rest = rest.left(mark);
    }
    QStringView authority = rest;
    QStringView database;
    if (const qsizetype slash = rest.indexOf(u'/'); slash >= 0) {
        authority = rest.left(slash);
        database = rest.mid(slash + 1);
    }
    // The display form is rebuilt from the pieces, every password left out.
    QString display = scheme;
    if (const qsizetype at = authority.lastIndexOf(u'@'); at >= 0) {
        QStringView userInfo = authority.left(at);
        if (const qsizetype colon = userInfo.indexOf(u':'); colon >= 0) {
            location.passwordDropped = true;
            userInfo = userInfo.left(colon);
        }
        location.user = Decoded(userInfo);
        display += userInfo.toString() + u'@';
        authority = authority.mid(at + 1);
    }
    display += authority.toString();
    if (!database.isNull()) {
        display += u'/' + database.toString();
    }

    QStringList hosts;
    QStringList ports;
    if (!authority.isEmpty()) {
        for (QStringView spec : authority.split(u',')) {
            SplitHost(spec, hosts, ports);
        }
    }
    location.host = hosts.join(u',');
    location.port = ports.join(u',');
    if (std::all_of(ports.cbegin(), ports.cend(), [](const QString& p) { return p.isEmpty(); })) {
        location.port.clear();
    }
    location.database = Decoded(database);

    QStringList kept;
    if (!query.isEmpty()) {
        for (QStringView pair : query.split(u'&', Qt::SkipEmptyParts)) {
            const qsizetype equals = pair.indexOf(u'=');
            const QString key = Decoded(equals < 0 ? pair : pair.left(equals));
            const QString value = equals < 0 ? QString() : Decoded(pair.mid(equals + 1));
            if (key == QLatin1String("password")) {
                location.passwordDropped = true;
                continue;
            }
            kept.append(pair.toString());
            if (!IsKeyword(key)) {
                throw BadUri(display, QStringLiteral("参数名 %1 无效").arg(key));
            }
            if (key == QLatin1String("host")) {
                location.host = value;
            } else if (key == QLatin1String("port")) {
                location.port = value;
            } else if (key == QLatin1String("dbname")) {
                location.database = value;
            } else if (key == QLatin1String("user")) {
                location.user = value;
            } else {
                location.options.append(key + u'=' + value);
            }
        }
    }
    if (!kept.isEmpty()) {
        display += u'?' + kept.join(u'&');
    }
    location.display = display;
    for (const QString& port : location.port.split(u',', Qt::SkipEmptyParts)) {
        bool number = false;
        const int value = port.toInt(&number);
        if (!number || value <= 0 || value > 65535) {
            throw BadUri(display, QStringLiteral("端口 %1 无效").arg(port));
        }
    }
    return location;
}

} // namespace

DatabaseLocation ParseDatabaseName(const QString& name) {
    for (const QString& scheme : kSchemes) {
        if (name.startsWith(scheme, Qt::CaseInsensitive)) {
            return ParseUri(name, name.left(scheme.size()));
        }
    }
    DatabaseLocation location;
    location.path = name;
    location.display = name;
    return location;
}

QString DatabaseNameFromEnvironment() {
    const QString name = qEnvironmentVariable("WINWARDEN_DATABASE");
    return name.isEmpty() ? QString::fromLatin1(RuleStore::kDefaultFile)
                          : DatabaseDisplayName(name);
}

QString DatabaseDisplayName(const QString& name) {
    try {
        return ParseDatabaseName(name).display;
    } catch (const StoreError&) {
        // Unreadable, but still a URI: show no more than its scheme.
        return name.left(name.indexOf(u':') + 3) + QStringLiteral("…");
    }
}

} // namespace winwarden
