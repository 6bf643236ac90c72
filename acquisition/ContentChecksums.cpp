#include "acquisition/ContentChecksums.h"

#include "app/Platform.h"
#include "app/Settings.h"
#include "app/WindowHost.h"
#include "collection/Fendrel.h"
#include "discs/FileContents.h"
#include "discs/Volume.h"
#include "platform/AnsiText.h"
#include "platform/SettingsStore.h"

#include <QAction>

TContentChecksums::TContentChecksums(IWindowHost& host, QAction& toggle)
    : Host_(host)
    , Toggle_(toggle)
{
}

void TContentChecksums::WriteSetting()
{
    try {
        Host_.Platform().Settings.WriteValues(
            kCurrentSettingsKey, {{kChecksumsOnAddValue, TSettingsValue::OfInteger(On() ? 1 : 0)}});
    } catch (const ESettingsError&) {
        // The item keeps its state for this run; the next one starts from what is stored.
    }
}

void TContentChecksums::ReadSetting()
{
    bool on = false;
    try {
        if (const auto key = Host_.Platform().Settings.ReadKey(kCurrentSettingsKey))
            if (const auto value = key->find(kChecksumsOnAddValue); value != key->end())
                on = value->second.Type == TSettingsValue::TType::Integer &&
                     value->second.Integer != 0;
    } catch (const ESettingsError&) {
        // Unreadable settings have been reported by the start-up already.
    }
    Toggle_.setChecked(on);
}

bool TContentChecksums::On() const
{
    return Toggle_.isChecked();
}

bool TContentChecksums::Read(const std::string& title, IVolume& volume, TFendrel& scan,
                             const std::vector<TFileToRead>& files, TChecksumTally& tally)
{
    TReadingProgress progress;
    std::vector<TFileReading> results;
    bool finished = false;
    Host_.Platform().Dialogs.RunReading(
        Ansi("Чтение диска «") + title + Ansi("»"), TotalSize(files), progress,
        [&] { finished = ReadFileContents(volume, files, results, progress); });
    if (!finished || progress.Cancel) {
        tally.Cancelled = true;
        return false;
    }
    tally.Read = true;
    for (size_t i = 0; i < files.size(); ++i) {
        switch (results[i].Outcome) {
        case TFileReading::TOutcome::Read:
            scan.Checksums[files[i].Id] = results[i].Checksum;
            ++tally.Checksummed;
            break;
        case TFileReading::TOutcome::Unreadable:
            ++tally.Unreadable;
            break;
        case TFileReading::TOutcome::NotRead:
        case TFileReading::TOutcome::NotOrdinary:
            break;
        }
    }
    return true;
}
