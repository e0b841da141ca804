#pragma once
#include <QIcon>

// The window's own icon: a 32 x 32 picture in the 16 colours of the classic palette.
QIcon appIcon();
