#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace winwarden {

// What `winwarden-browser install --system` needs to know.
struct SystemInstall {
    QString root;    // put before every system path; empty for the real system
    QString host;    // the native host program the manifests name
    QString packed;  // the folder holding winwarden.crx and winwarden.xpi
    QString version; // the extension's version, which the update manifest must repeat
    bool noIncognito = false;
    bool noGuest = false;
    // The extension's own policy (3rdparty) tells it to refuse web pages while no guard answers.
    bool failClosed = false;
};

// A native host manifest naming `host` for Firefox (`gecko`) or a Chromium-family browser.
QByteArray HostManifest(bool gecko, const QString& host);

// Where the packed extension, its update manifest and the record of an install go:
// share/winwarden/browser under the prefix the running program is installed in (/usr from the
// Debian package, /usr/local from source), so that each install keeps its own record and the
// package's removal finds it; a program run from its build tree uses the prefix the build
// installs to.
QString SystemFolder();

// Writes the system-wide host manifests and the browsers' managed policies that force the
// extension in, copies the packages into SystemFolder(), and records every file and folder it
// made or changed there, so that UninstallSystem undoes exactly that. Installing again first
// undoes the last install. Prints what it does; returns the exit status.
int InstallSystem(const SystemInstall& install);

// Undoes the recorded install: removes what it made, gives changed files back their earlier
// contents (or, where someone changed them since, only takes out the extension's entry).
int UninstallSystem(const QString& root);

// Whether a browser of `family` (chromium, chrome, firefox) is installed for the whole system.
bool SystemBrowserInstalled(const QString& root, const QString& family);

// What keeps `family`'s browsers (chromium, chrome, firefox) of every user from reaching the
// guard with the extension forced in: a missing system host manifest or one whose program is
// missing, a missing forced-install policy, user-level host manifests left allowed, a policy
// that fails closed naming a key other than the guard's. Empty when everything is in place.
QStringList SystemInstallProblems(const QString& root, const QString& family);

// How the system covers each family: "系统主机清单 …" and "强制安装策略 …" parts, by family
// name (chromium, chrome, firefox); families not covered have none.
QStringList SystemCoverage(const QString& root, const QString& family);

} // namespace winwarden
