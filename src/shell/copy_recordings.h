#pragma once
// Copy on the recording list: the chosen recordings into a folder the user picks. Files already
// there are never replaced without asking (Replace, Skip, and for several files Replace All and
// Skip All); the copy runs on a worker thread behind a progress dialog that can cancel it, and
// every file that could not be copied is named at the end.
#include <QString>
#include <filesystem>
#include <vector>

class QWidget;

namespace orvik::shell {

// `lastFolder` is where the folder chooser starts, and becomes the folder chosen.
void copyRecordings(QWidget* parent, const std::vector<std::filesystem::path>& sources,
                    QString& lastFolder);

}  // namespace orvik::shell
