// The program's icon (main window, tray): a gold coin marked with the yuan sign on a green
// ground, drawn in code so the program carries no image files.
#pragma once

#include <QIcon>

QIcon ProgramIcon();
