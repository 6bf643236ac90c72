#pragma once

#include <QIcon>
#include <QList>

// The five pictures of the tree and the list, by index: 0 a stack of discs (the collection),
// 1 a disc, 2 a closed folder, 3 a page (a file), 4 an open folder. Taken from the desktop's icon
// theme where it has them, otherwise drawn here.
[[nodiscard]] QList<QIcon> MakeImageList();

// The drawn pictures alone, whatever the theme holds.
[[nodiscard]] QList<QIcon> MakeOwnImageList();

// The program's own icon, in every size it is drawn in, for its windows.
[[nodiscard]] QIcon ApplicationIcon();
