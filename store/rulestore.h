#pragma once

#include <QString>
#include <QVariant>
#include <memory>
#include <optional>

namespace winwarden {

// The window rules in the SQLite file: table 窗口名表 with a leading key, then
// 窗口名称, 是否禁止 and 网址, read by position (1, 2, 3) so that a hand-made table works.
//
// Every failure throws StoreError with the engine's message; after a failed statement the
// store keeps working. FindByName and ListByFlag leave their result as the current
// recordset, which the caller reads with AtEnd/FieldValue/MoveNext and then closes.
class RuleStore final {
public:
    static constexpr const char* kDefaultFile = "winwarden.mdb";

    RuleStore();
    ~RuleStore();
    RuleStore(const RuleStore&) = delete;
    RuleStore& operator=(const RuleStore&) = delete;

    // Opens an existing rule database read-write; never creates one. Throws on failure.
    // On success the current filter becomes "通过".
    void Open(const QString& path = QString::fromLatin1(kDefaultFile));
    void Close();
    bool IsOpen() const;

    void FindByName(const QString& title);
    void InsertPassed(const QString& title, const QString& url);
    void SetFlagByUrl(const QString& flag, const QString& url);
    void DeleteByUrl(const QString& url);
    void ListByFlag(const QString& flag);

    // The current recordset. AtEnd is true when there is no current row (an empty result,
    // a closed one, or past the last row).
    bool AtEnd() const;
    QVariant FieldValue(int position) const;
    void MoveNext();
    void CloseRecordset();

    // The text of a field value: none for a database NULL, the empty string for an empty
    // string, a number's string form for a number.
    static std::optional<QString> FieldText(const QVariant& value);

    // Lets a run of lookups share one read of the file instead of locking it per lookup.
    // Every write, ReleaseReadLock and EndReadBatch end the shared read first, so the store
    // never upgrades a lock another process may be waiting on, and holds none while its
    // caller waits on something else. The next lookup of the batch starts a new read.
    // ReleaseReadLock and EndReadBatch close the current recordset.
    void BeginReadBatch();
    void ReleaseReadLock();
    void EndReadBatch();

    const QString& CurrentFilter() const;
    void SetCurrentFilter(const QString& filter);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace winwarden
