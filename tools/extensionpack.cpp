#include "tools/extensionpack.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <array>
#include <memory>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

using namespace Qt::StringLiterals;

namespace winwarden {

namespace {

void Put16(QByteArray& out, quint32 value) {
    out.append(char(value & 0xff)).append(char((value >> 8) & 0xff));
}

void Put32(QByteArray& out, quint32 value) {
    Put16(out, value & 0xffff);
    Put16(out, value >> 16);
}

quint32 Crc32(const QByteArray& data) {
    static const auto table = [] {
        std::array<quint32, 256> entries{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1) != 0 ? 0xedb88320u ^ (c >> 1) : c >> 1;
            }
            entries[i] = c;
        }
        return entries;
    }();
    quint32 crc = 0xffffffffu;
    for (const char byte : data) {
        crc = table[(crc ^ quint8(byte)) & 0xff] ^ (crc >> 8);
    }
    return crc ^ 0xffffffffu;
}

// One length-delimited protocol-buffer field.
QByteArray Field(quint32 number, const QByteArray& value) {
    QByteArray out;
    const auto varint = [&out](quint64 v) {
        while (v >= 0x80) {
            out.append(char((v & 0x7f) | 0x80));
            v >>= 7;
        }
        out.append(char(v));
    };
    varint((quint64(number) << 3) | 2);
    varint(quint64(value.size()));
    return out + value;
}

} // namespace

std::optional<std::vector<PackedFile>> ReadExtensionFiles(const QString& folder) {
    std::vector<PackedFile> files;
    const QDir root(folder);
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString name = root.relativeFilePath(path);
        if (name == "key.pem"_L1) {
            continue; // the key makes the package; it never goes into one
        }
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            return std::nullopt;
        }
        files.emplace_back(name, file.readAll());
    }
    if (files.empty()) {
        return std::nullopt;
    }
    std::sort(files.begin(), files.end());
    return files;
}

QByteArray ZipArchive(const std::vector<PackedFile>& files) {
    constexpr quint32 kUtf8Names = 0x0800;
    constexpr quint32 kFirstDay = (1 << 5) | 1; // 1 January 1980, the format's first day
    QByteArray archive;
    QByteArray directory;
    for (const PackedFile& file : files) {
        const QByteArray name = file.first.toUtf8();
        const QByteArray& contents = file.second;
        const quint32 crc = Crc32(contents);
        const auto offset = quint32(archive.size());
        const auto common = [&](QByteArray& out) {
            Put16(out, 20); // version needed: 2.0
            Put16(out, kUtf8Names);
            Put16(out, 0); // stored
            Put16(out, 0); // time
            Put16(out, kFirstDay);
            Put32(out, crc);
            Put32(out, quint32(contents.size()));
            Put32(out, quint32(contents.size()));
            Put16(out, quint32(name.size()));
            Put16(out, 0); // no extra field
        };
        Put32(archive, 0x04034b50);
        common(archive);
        archive.append(name).append(contents);
        Put32(directory, 0x02014b50);
        Put16(directory, 20); // made by: 2.0
        common(directory);
        Put16(directory, 0); // comment
        Put16(directory, 0); // disk
        Put16(directory, 0); // internal attributes
        Put32(directory, 0); // external attributes
        Put32(directory, offset);
        directory.append(name);
    }
    const auto start = quint32(archive.size());
    archive.append(directory);
    Put32(archive, 0x06054b50);
    Put16(archive, 0);
    Put16(archive, 0);
    Put16(archive, quint32(files.size()));
    Put16(archive, quint32(files.size()));
    Put32(archive, quint32(directory.size()));
    Put32(archive, start);
    Put16(archive, 0);
    return archive;
}

QString ChromiumExtensionId(const QByteArray& publicKey) {
    const QByteArray hex =
        QCryptographicHash::hash(publicKey, QCryptographicHash::Sha256).toHex().left(32);
    QString id;
    for (const char digit : hex) {
        const int value = digit <= '9' ? digit - '0' : digit - 'a' + 10;
        id.append(QChar(u'a' + value));
    }
    return id;
}

std::optional<QByteArray> CrxPackage(const QByteArray& zip, const QByteArray& pem, QString* id,
                                     QString* error) {
    const std::unique_ptr<BIO, decltype(&BIO_free)> bio(
        BIO_new_mem_buf(pem.data(), int(pem.size())), BIO_free);
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr,
        EVP_PKEY_free);
    if (!key || EVP_PKEY_base_id(key.get()) != EVP_PKEY_RSA) {
        *error = u"不是 RSA 私钥"_s;
        return std::nullopt;
    }
    const int publicSize = i2d_PUBKEY(key.get(), nullptr);
    if (publicSize <= 0) {
        *error = u"无法取得公钥"_s;
        return std::nullopt;
    }
    QByteArray publicKey(publicSize, '\0');
    auto* cursor = reinterpret_cast<unsigned char*>(publicKey.data());
    i2d_PUBKEY(key.get(), &cursor);
    *id = ChromiumExtensionId(publicKey);

    // What is signed: a fixed prefix, the signed header data with its length, and the archive.
    const QByteArray crxId =
        QCryptographicHash::hash(publicKey, QCryptographicHash::Sha256).left(16);
    const QByteArray signedData = Field(1, crxId);
    QByteArray message("CRX3 SignedData", 16); // with its terminating zero
    Put32(message, quint32(signedData.size()));
    message.append(signedData).append(zip);
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                          EVP_MD_CTX_free);
    size_t size = 0;
    const auto* data = reinterpret_cast<const unsigned char*>(message.constData());
    if (!context ||
        EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
        EVP_DigestSign(context.get(), nullptr, &size, data, size_t(message.size())) != 1) {
        *error = u"无法签名"_s;
        return std::nullopt;
    }
    QByteArray signature(qsizetype(size), '\0');
    if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &size,
                       data, size_t(message.size())) != 1) {
        *error = u"无法签名"_s;
        return std::nullopt;
    }
    signature.truncate(qsizetype(size));

    // CrxFileHeader: sha256_with_rsa = 2 (public_key = 1, signature = 2),
    // signed_header_data = 10000.
    const QByteArray header =
        Field(2, Field(1, publicKey) + Field(2, signature)) + Field(10000, signedData);
    QByteArray crx("Cr24");
    Put32(crx, 3);
    Put32(crx, quint32(header.size()));
    return crx + header + zip;
}

} // namespace winwarden
