#pragma once

#include "res/commandids.h"

#include <QKeyCombination>
#include <array>

namespace winwarden::res {

// One key of the main window and the command it sends.
struct Accelerator {
    QKeyCombination key;
    int commandId;
};

// The window's keys. The editing commands have no handler: the window takes those keys so
// that they do nothing, rather than letting the list copy or paste behind the user's back.
inline constexpr std::array<Accelerator, 13> kAccelerators{{
    {Qt::CTRL | Qt::Key_N, cmd::kFileNew},
    {Qt::CTRL | Qt::Key_O, cmd::kFileOpen},
    {Qt::CTRL | Qt::Key_S, cmd::kFileSave},
    {Qt::CTRL | Qt::Key_Z, cmd::kEditUndo},
    {Qt::CTRL | Qt::Key_X, cmd::kEditCut},
    {Qt::CTRL | Qt::Key_C, cmd::kEditCopy},
    {Qt::CTRL | Qt::Key_V, cmd::kEditPaste},
    {Qt::ALT | Qt::Key_Backspace, cmd::kEditUndo},
    {Qt::SHIFT | Qt::Key_Delete, cmd::kEditCut},
    {Qt::CTRL | Qt::Key_Insert, cmd::kEditCopy},
    {Qt::SHIFT | Qt::Key_Insert, cmd::kEditPaste},
    {QKeyCombination(Qt::Key_F6), cmd::kNextPane},
    {Qt::SHIFT | Qt::Key_F6, cmd::kPrevPane},
}};

} // namespace winwarden::res
