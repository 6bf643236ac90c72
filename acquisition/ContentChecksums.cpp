#include "app/uMain.h"

#include "app/Settings.h"
#include "discs/FileContents.h"
#include "discs/Volume.h"
#include "platform/AnsiText.h"
#include "platform/SettingsStore.h"

#include <QAction>

void TForm_Main::Act_ChecksumsOnAddExecute(QObject*)
{
    try {
        Platform_.Settings.WriteValues(
            kCurrentSettingsKey,
            {{kChecksumsOnAddValue, TSettingsValue::OfInteger(ChecksumsOnAdd() ? 1 : 0)}});
    } catch (const ESettingsError&) {
        // The item keeps its state for this run; the next one starts from what is stored.
    }
}

void TForm_Main::ReadChecksumSetting()
{
    bool on = false;
    try {
        if (const auto key = Platform_.Settings.ReadKey(kCurrentSettingsKey))
            if (const auto value = key->find(kChecksumsOnAddValue); value != key->end())
                on = value->second.Type == TSettingsValue::TType::Integer &&
                     value->second.Integer != 0;
    } catch (const ESettingsError&) {
        // Unreadable settings have been reported by the start-up already.
    }
    Act_ChecksumsOnAdd->setChecked(on);
}

bool TForm_Main::ChecksumsOnAdd() const
{
    return Act_ChecksumsOnAdd->isChecked();
}

bool TForm_Main::ReadChecksums(const std::string& title, IVolume& volume, TFendrel& scan,
                               const std::vector<TFileToRead>& files, TAddedDiscs& added)
{
    TReadingProgress progress;
    std::vector<TFileReading> results;
    bool finished = false;
    Platform_.Dialogs.RunReading(
        Ansi("Чтение диска «") + title + Ansi("»"), TotalSize(files), progress,
        [&] { finished = ReadFileContents(volume, files, results, progress); });
    if (!finished || progress.Cancel) {
        added.Cancelled = true;
        return false;
    }
    added.Checksums = true;
    for (size_t i = 0; i < files.size(); ++i) {
        switch (results[i].Outcome) {
        case TFileReading::TOutcome::Read:
            scan.Checksums[files[i].Id] = results[i].Checksum;
            ++added.Checksummed;
            break;
        case TFileReading::TOutcome::Unreadable:
            ++added.Unreadable;
            break;
        case TFileReading::TOutcome::NotRead:
        case TFileReading::TOutcome::NotOrdinary:
            break;
        }
    }
    return true;
}
