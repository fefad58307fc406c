#pragma once

#include <QString>
#include <QStringView>
#include <array>

namespace winwarden::res {

inline constexpr int kIdsAppTitle = 57344;
inline constexpr int kIdsIdleMessage = 57345;
inline constexpr int kIdsCapsLock = 59137;
inline constexpr int kIdsNumLock = 59138;
inline constexpr int kIdsScrollLock = 59139;

struct StringEntry {
    int id;
    QStringView text;
};

// The string table. A command's entry is its status-bar prompt, a newline and its tooltip.
inline constexpr std::array<StringEntry, 9> kStringTable{{
    {kIdsAppTitle, u"winwarden"},
    {kIdsIdleMessage, u"就绪"},
    {57664, u"显示程序信息，版本号和版权\n关于"},
    {57665, u"退出应用程序；提示保存文档\n退出"},
    {kIdsCapsLock, u"大写"},
    {kIdsNumLock, u"数字"},
    {kIdsScrollLock, u"滚动"},
    {59392, u"显示或隐藏工具栏\n显隐工具栏"},
    {59393, u"显示或隐藏状态栏\n显隐状态栏"},
}};

// The entry with this id, or an empty view when the table has none.
constexpr QStringView LoadString(int id) {
    for (const StringEntry& entry : kStringTable) {
        if (entry.id == id) {
            return entry.text;
        }
    }
    return {};
}

// Field `index` of a newline-separated entry; empty when the entry has fewer fields.
inline QString StringField(int id, int index) {
    const QStringView text = LoadString(id);
    int field = 0;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == u'\n') {
            if (field == index) {
                return text.mid(start, i - start).toString();
            }
            ++field;
            start = i + 1;
        }
    }
    return {};
}

// What the status bar shows while the command is highlighted; empty for commands without one.
inline QString CommandPrompt(int commandId) {
    return StringField(commandId, 0);
}

// The tooltip of the command's toolbar button.
inline QString CommandTip(int commandId) {
    return StringField(commandId, 1);
}

// Reports on a document file that could not be read or written.
inline const QString kFailedToOpenDoc = QStringLiteral("打开文档失败。");
inline const QString kFailedToSaveDoc = QStringLiteral("保存文档失败。");

} // namespace winwarden::res
