// The data directory: "data" beside the program file, never the working directory.
#pragma once

#include <QString>

// Full path of the data directory, computed afresh from the program file's location.
QString DataDirectory();
