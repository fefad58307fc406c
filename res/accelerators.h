#pragma once

#include "res/commandids.h"

#include <QKeyCombination>
#include <array>

namespace winwarden::res {

// Modifier flags of an accelerator entry, as the classic accelerator table stores them.
inline constexpr int kAccelVirtualKey = 1;
inline constexpr int kAccelShift = 4;
inline constexpr int kAccelControl = 8;
inline constexpr int kAccelAlt = 16;
inline constexpr int kAccelLast = 128;

// One key of the main window's accelerator table: the stored flags and virtual-key code,
// the same key for Qt, and the command it sends.
struct Accelerator {
    int flags;
    int virtualKey;
    QKeyCombination key;
    int commandId;
};

// In table order; the commands of most of them have no handler, so the key does nothing.
inline constexpr std::array<Accelerator, 13> kAccelerators{{
    {9, 78, Qt::CTRL | Qt::Key_N, cmd::kFileNew},
    {9, 79, Qt::CTRL | Qt::Key_O, cmd::kFileOpen},
    {9, 83, Qt::CTRL | Qt::Key_S, cmd::kFileSave},
    {9, 90, Qt::CTRL | Qt::Key_Z, cmd::kEditUndo},
    {9, 88, Qt::CTRL | Qt::Key_X, cmd::kEditCut},
    {9, 67, Qt::CTRL | Qt::Key_C, cmd::kEditCopy},
    {9, 86, Qt::CTRL | Qt::Key_V, cmd::kEditPaste},
    {17, 8, Qt::ALT | Qt::Key_Backspace, cmd::kEditUndo},
    {5, 46, Qt::SHIFT | Qt::Key_Delete, cmd::kEditCut},
    {9, 45, Qt::CTRL | Qt::Key_Insert, cmd::kEditCopy},
    {5, 45, Qt::SHIFT | Qt::Key_Insert, cmd::kEditPaste},
    {1, 117, QKeyCombination(Qt::Key_F6), cmd::kNextPane},
    {133, 117, Qt::SHIFT | Qt::Key_F6, cmd::kPrevPane},
}};

} // namespace winwarden::res
