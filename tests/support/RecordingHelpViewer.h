#pragma once

#include "platform/HelpViewer.h"

#include <string>
#include <vector>

// Records which help files were asked for and answers as told.
class TRecordingHelpViewer final : public IHelpViewer {
public:
    std::vector<std::string> Opened;
    bool Opens = true;

    [[nodiscard]] bool OpenHelpFile(const std::string& fileName) override
    {
        Opened.push_back(fileName);
        return Opens;
    }
};
