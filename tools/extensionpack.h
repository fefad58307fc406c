#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <utility>
#include <vector>

namespace winwarden {

// A file of a package: its path inside the package and its contents.
using PackedFile = std::pair<QString, QByteArray>;

// The extension's files as a package holds them: every file under `folder` but its private
// key, sorted by path. Nothing when the folder cannot be read.
std::optional<std::vector<PackedFile>> ReadExtensionFiles(const QString& folder);

// A zip archive of `files`, stored without compression and with a fixed date, so that the same
// files always make the same archive. This is Firefox's .xpi and the body of a CRX.
QByteArray ZipArchive(const std::vector<PackedFile>& files);

// A CRX3 package of `zip` signed with the RSA key in `pem`, as Chromium-family browsers install
// it. `id` receives the extension id the key gives (32 letters a–p). Nothing, with `error`
// set, when the key cannot be read or signing fails.
std::optional<QByteArray> CrxPackage(const QByteArray& zip, const QByteArray& pem, QString* id,
                                     QString* error);

// The id of an extension whose public key (DER) is `publicKey`: the first 32 hex digits of
// its SHA-256, with 0–f written as a–p.
QString ChromiumExtensionId(const QByteArray& publicKey);

} // namespace winwarden
