#include "signing/guardkey.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace winwarden {

namespace {

// P-256's r and s are 32 bytes each.
constexpr int kHalf = 32;

using PKey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Bio = std::unique_ptr<BIO, decltype(&BIO_free)>;
using Md = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;
using Sig = std::unique_ptr<ECDSA_SIG, decltype(&ECDSA_SIG_free)>;

QString SystemError(const QString& what) {
    return what + u"："_s + QString::fromLocal8Bit(std::strerror(errno));
}

// A P-256 key, public or private; nothing for any other kind.
PKey OnlyP256(EVP_PKEY* key) {
    PKey owned(key, EVP_PKEY_free);
    if (!owned || !EVP_PKEY_is_a(owned.get(), "EC") || EVP_PKEY_get_bits(owned.get()) != 256) {
        return PKey(nullptr, EVP_PKEY_free);
    }
    char group[32] = {};
    if (EVP_PKEY_get_utf8_string_param(owned.get(), "group", group, sizeof group, nullptr) != 1 ||
        std::strcmp(group, "prime256v1") != 0) {
        return PKey(nullptr, EVP_PKEY_free);
    }
    return owned;
}

PKey ReadPrivate(const QByteArray& pem) {
    Bio bio(BIO_new_mem_buf(pem.constData(), int(pem.size())), BIO_free);
    return OnlyP256(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
}

QByteArray WritePrivate(EVP_PKEY* key) {
    Bio bio(BIO_new(BIO_s_mem()), BIO_free);
    if (!bio ||
        PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        return {};
    }
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, size);
}

// Writes `contents` as a new file at `path`, whole or not at all: a file of its own first, then
// a link in its place, which fails where another is there already.
bool CreateExclusive(const QString& path, const QByteArray& contents, KeyOwner owner,
                     QString* error) {
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temporary = target + ".new" + QByteArray::number(::getpid());
    const int fd =
        ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kGuardKeyMode);
    if (fd < 0) {
        *error = SystemError(u"无法创建 "_s + path);
        return false;
    }
    bool written = ::write(fd, contents.constData(), size_t(contents.size())) == contents.size() &&
                   ::fchmod(fd, kGuardKeyMode) == 0 && ::fsync(fd) == 0;
    if (written && (owner.uid != ::geteuid() || owner.gid != ::getegid())) {
        written = ::fchown(fd, owner.uid, owner.gid) == 0;
    }
    if (!written) {
        *error = SystemError(u"无法写入 "_s + path);
    }
    ::close(fd);
    if (written && ::link(temporary.constData(), target.constData()) != 0 && errno != EEXIST) {
        *error = SystemError(u"无法创建 "_s + path);
        written = false;
    }
    ::unlink(temporary.constData());
    return written;
}

} // namespace

struct GuardKey::Key {
    PKey key{nullptr, EVP_PKEY_free};
};

GuardKey::GuardKey(std::unique_ptr<Key> key) : m_key(std::move(key)) {}

GuardKey::~GuardKey() = default;

std::shared_ptr<const GuardKey> GuardKey::Load(const QString& path, QString* error) {
    const QByteArray native = QFile::encodeName(path);
    struct stat info {};
    if (::lstat(native.constData(), &info) != 0) {
        *error = SystemError(u"无法读取签名密钥 "_s + path);
        return nullptr;
    }
    if (!S_ISREG(info.st_mode)) {
        *error = u"签名密钥 %1 不是普通文件"_s.arg(path);
        return nullptr;
    }
    // Others must not read it: a key someone else has read signs for them too.
    if ((info.st_mode & 077) != 0 &&
        (info.st_uid != ::geteuid() || ::chmod(native.constData(), kGuardKeyMode) != 0)) {
        *error = u"签名密钥 %1 可被其他用户读取，且无法更正"_s.arg(path);
        return nullptr;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = u"无法读取签名密钥 %1：%2"_s.arg(path, file.errorString());
        return nullptr;
    }
    auto key = std::make_unique<Key>();
    key->key = ReadPrivate(file.read(64 * 1024));
    if (!key->key) {
        *error = u"%1 不是 P-256 签名密钥；删除它，守护程序会创建新的（之后须重新运行 "
                 u"winwarden-browser install --system --fail-closed）"_s.arg(path);
        return nullptr;
    }
    return std::shared_ptr<const GuardKey>(new GuardKey(std::move(key)));
}

std::shared_ptr<const GuardKey> GuardKey::LoadOrCreate(const QString& path, KeyOwner owner,
                                                       QString* error) {
    if (!QFileInfo(path).isSymLink() && !QFileInfo::exists(path)) {
        PKey fresh(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"), EVP_PKEY_free);
        const QByteArray pem = fresh ? WritePrivate(fresh.get()) : QByteArray();
        if (pem.isEmpty()) {
            *error = u"无法生成签名密钥"_s;
            return nullptr;
        }
        if (!CreateExclusive(path, pem, owner, error)) {
            return nullptr;
        }
    }
    // Whoever won a race to make it, the key in the file is the one.
    return Load(path, error);
}

QByteArray GuardKey::Sign(QByteArrayView message) const {
    Md context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    size_t size = 0;
    if (!context ||
        EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, m_key->key.get()) != 1 ||
        EVP_DigestSign(context.get(), nullptr, &size,
                       reinterpret_cast<const unsigned char*>(message.data()),
                       size_t(message.size())) != 1) {
        return {};
    }
    QByteArray der(qsizetype(size), Qt::Uninitialized);
    auto* bytes = reinterpret_cast<unsigned char*>(der.data());
    if (EVP_DigestSign(context.get(), bytes, &size,
                       reinterpret_cast<const unsigned char*>(message.data()),
                       size_t(message.size())) != 1) {
        return {};
    }
    const unsigned char* read = bytes;
    Sig signature(d2i_ECDSA_SIG(nullptr, &read, long(size)), ECDSA_SIG_free);
    if (!signature) {
        return {};
    }
    QByteArray plain(2 * kHalf, Qt::Uninitialized);
    auto* out = reinterpret_cast<unsigned char*>(plain.data());
    if (BN_bn2binpad(ECDSA_SIG_get0_r(signature.get()), out, kHalf) != kHalf ||
        BN_bn2binpad(ECDSA_SIG_get0_s(signature.get()), out + kHalf, kHalf) != kHalf) {
        return {};
    }
    return plain;
}

QByteArray GuardKey::PublicKey() const {
    unsigned char* der = nullptr;
    const int size = i2d_PUBKEY(m_key->key.get(), &der);
    if (size <= 0) {
        return {};
    }
    QByteArray key(reinterpret_cast<const char*>(der), size);
    OPENSSL_free(der);
    return key;
}

bool VerifyGuardSignature(const QByteArray& publicKey, QByteArrayView message,
                          const QByteArray& signature) {
    if (signature.size() != 2 * kHalf) {
        return false;
    }
    const auto* der = reinterpret_cast<const unsigned char*>(publicKey.constData());
    PKey key = OnlyP256(d2i_PUBKEY(nullptr, &der, long(publicKey.size())));
    Sig parts(ECDSA_SIG_new(), ECDSA_SIG_free);
    if (!key || !parts) {
        return false;
    }
    const auto* plain = reinterpret_cast<const unsigned char*>(signature.constData());
    BIGNUM* r = BN_bin2bn(plain, kHalf, nullptr);
    BIGNUM* s = BN_bin2bn(plain + kHalf, kHalf, nullptr);
    if (r == nullptr || s == nullptr || ECDSA_SIG_set0(parts.get(), r, s) != 1) {
        BN_free(r);
        BN_free(s);
        return false;
    }
    unsigned char* encoded = nullptr;
    const int size = i2d_ECDSA_SIG(parts.get(), &encoded);
    Md context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    const bool verified =
        size > 0 && context &&
        EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) == 1 &&
        EVP_DigestVerify(context.get(), encoded, size_t(size),
                         reinterpret_cast<const unsigned char*>(message.data()),
                         size_t(message.size())) == 1;
    OPENSSL_free(encoded);
    return verified;
}

} // namespace winwarden
