#pragma once

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>
#include <sys/types.h>

namespace winwarden {

// Where the guard keeps its private key by default: its state folder, readable by its user
// alone. `winwarden-browser install --system --fail-closed` reads the public half from there.
inline constexpr char kGuardKeyFile[] = "/var/lib/winwarden/guard-key.pem";
inline constexpr mode_t kGuardKeyMode = 0600;

// Who owns a key file that is made: the guard's user, also when root makes it.
struct KeyOwner {
    uid_t uid = 0;
    gid_t gid = 0;
};

// The guard's ECDSA P-256 key, with which it signs its answers to the browsers' challenges.
// The browsers verify with Web Crypto, which takes the public key as SubjectPublicKeyInfo and a
// signature as r||s (IEEE P1363), so both come out in those forms.
class GuardKey final {
public:
    ~GuardKey();
    GuardKey(const GuardKey&) = delete;
    GuardKey& operator=(const GuardKey&) = delete;

    // The key in `path`; where there is no file, a new key written there first (mode 0600,
    // owned by `owner`), never over a file that appeared meanwhile. A file that is there but
    // holds no P-256 key is left as it is: nothing, with the reason. Access of group and
    // others to a key of ours is taken away.
    static std::shared_ptr<const GuardKey> LoadOrCreate(const QString& path, KeyOwner owner,
                                                        QString* error);
    // The key in `path`, never a new one.
    static std::shared_ptr<const GuardKey> Load(const QString& path, QString* error);

    // The SHA-256 ECDSA signature of `message` as r||s, 64 bytes; empty where OpenSSL fails.
    QByteArray Sign(QByteArrayView message) const;
    // The public key as DER SubjectPublicKeyInfo.
    QByteArray PublicKey() const;

private:
    struct Key;
    explicit GuardKey(std::unique_ptr<Key> key);
    std::unique_ptr<Key> m_key;
};

// Whether `signature` (r||s, 64 bytes) is a SHA-256 ECDSA signature of `message` under the
// P-256 `publicKey` (DER SubjectPublicKeyInfo): what the extension checks, for tests and
// --check.
bool VerifyGuardSignature(const QByteArray& publicKey, QByteArrayView message,
                          const QByteArray& signature);

} // namespace winwarden
