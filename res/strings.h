#pragma once

#include <QString>
#include <QStringView>
#include <array>

namespace winwarden::res {

inline constexpr int kIdsMainFrame = 128;
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
inline constexpr std::array<StringEntry, 19> kStringTable{{
    {kIdsMainFrame, u"winwarden\n\nWinward\n\n\nWinwarden.Document\nWinward Document"},
    {kIdsAppTitle, u"winwarden"},
    {kIdsIdleMessage, u"就绪"},
    {57664, u"显示程序信息，版本号和版权\n关于"},
    {57665, u"退出应用程序；提示保存文档\n退出"},
    {kIdsCapsLock, u"大写"},
    {kIdsNumLock, u"数字"},
    {kIdsScrollLock, u"滚动"},
    {59392, u"显示或隐藏工具栏\n显隐工具栏"},
    {59393, u"显示或隐藏状态栏\n显隐状态栏"},
    {61184, u"改变窗口大小"},
    {61185, u"改变窗口位置"},
    {61186, u"将窗口缩小成图标"},
    {61187, u"把窗口放大到最大尺寸"},
    {61188, u"切换到下一个文档窗口"},
    {61189, u"切换到先前的文档窗口"},
    {61190, u"关闭活动的窗口并提示保存所有文档"},
    {61202, u"把窗口恢复到正常大小"},
    {61203, u"激活任务表"},
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

// The framework's reports on a document file it could not read or write.
inline const QString kFailedToOpenDoc = QStringLiteral("打开文档失败。");
inline const QString kFailedToSaveDoc = QStringLiteral("保存文档失败。");

// Fields of the document string.
inline constexpr int kDocWindowTitle = 0;
inline constexpr int kDocFileNewName = 2;
inline constexpr int kDocFilterName = 3;

} // namespace winwarden::res
