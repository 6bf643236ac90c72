#pragma once

#include "platform/HelpViewer.h"

#include <string>
#include <vector>

// Records which help files and folders were asked for and answers as told.
class TRecordingHelpViewer final : public IHelpViewer {
public:
    std::vector<std::string> Opened;
    std::vector<std::string> OpenedFolders;
    bool Opens = true;

    [[nodiscard]] bool OpenFolder(const std::string& path) override
    {
        OpenedFolders.push_back(path);
        return Opens;
    }

    [[nodiscard]] bool OpenHelpFile(const std::string& fileName) override
    {
        Opened.push_back(fileName);
        return Opens;
    }
};
