#pragma once

#include "collection/Fendrel.h"
#include "discs/Drives.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

// A realistic collection for the benchmarks: discs of folders (some nested) holding files, with
// names of 5 to 40 bytes, times and sizes drawn from a fixed seed. The default holds 1,101,100
// records.
struct TBenchShape {
    int Discs = 1100;
    int FoldersPerDisc = 100;
    int FilesPerDisc = 900;
    uint32_t Seed = 12345;
    // Every disc with a record that knows all it can (source, identity, dates, notes), and its
    // last file 5 GiB larger: the data of the collection file's extension section.
    bool DiscRecords = false;
    // When positive, a last disc made by AddBigFolder with one folder of that many files.
    int BigFolderFiles = 0;
};
void FillBenchCollection(TFendrel& collection, const TBenchShape& shape = {});
// Adds a disc holding one folder of that many files, with names, times and sizes drawn as above;
// returns the folder's id.
uint32_t AddBigFolder(TFendrel& collection, int files, uint32_t seed = 54321);

// A collection file of the benchmark collection, written into a temporary folder that goes with
// this object. A collection loaded from it has the node order that users' collections have: ids
// in record order, every disc and folder followed by its whole contents, whereas
// FillBenchCollection adds each folder's files at random times.
class TBenchCollectionFile {
public:
    explicit TBenchCollectionFile(const TBenchShape& shape = {});
    ~TBenchCollectionFile();
    TBenchCollectionFile(const TBenchCollectionFile&) = delete;
    TBenchCollectionFile& operator=(const TBenchCollectionFile&) = delete;

    [[nodiscard]] const std::string& Path() const { return Path_; }
    [[nodiscard]] uint32_t Records() const { return Records_; }

private:
    std::string Folder_;
    std::string Path_;
    uint32_t Records_ = 0;
};
// Reads the collection file into collection, which must be new and empty, as opening a collection
// does; throws when the file cannot be read or is damaged.
void LoadCollectionFile(TFendrel& collection, const std::string& path);

// A folder tree of sparse files on local disk: TopFolders folders of Subfolders folders of
// FilesPerSubfolder files each. Names mix Latin and Cyrillic letters (UTF-8) and begin with their
// serial number and Separator, so they are unique within their folder.
struct TFolderTreeShape {
    int TopFolders = 1000;
    int Subfolders = 9;
    int FilesPerSubfolder = 10;
    int MinNameLetters = 4; // letters after the serial number
    int MaxNameLetters = 38;
    std::string Separator;
    uint32_t MaxFileSize = 1'000'000;
};
// Returns the number of folders and files made.
int MakeFolderTree(const std::string& root, const TFolderTreeShape& shape);

// A new empty folder in the temporary folder; throws when it cannot be made.
[[nodiscard]] std::string MakeTempFolder(const std::string& prefix);

// Runs a shell command and returns its time; throws when it fails.
double CommandSeconds(const std::string& command);

// Resident memory of the process now, and its peak so far, in bytes.
[[nodiscard]] uint64_t CurrentRssBytes();
[[nodiscard]] uint64_t PeakRssBytes();

// The processor time (user and system, all threads) the process has used.
[[nodiscard]] double ProcessCpuSeconds();

// The processor time (user and system) of the calling thread.
[[nodiscard]] double ThreadCpuSeconds();

// The least processor time of the calling thread and the least wall-clock time over a few runs
// of work: the machine is shared, so the least disturbed run counts.
struct TBestRun {
    double Cpu = 1e9;
    double Wall = 1e9;
};
[[nodiscard]] TBestRun BestOfRuns(int runs, const std::function<void()>& work);
[[nodiscard]] inline double BestWallSeconds(int runs, const std::function<void()>& work)
{
    return BestOfRuns(runs, work).Wall;
}

// Seconds since construction, and the process's processor seconds since then: on a machine
// shared with other work the latter varies far less.
class TStopwatch {
public:
    [[nodiscard]] double Seconds() const
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - Start_).count();
    }
    [[nodiscard]] double CpuSeconds() const { return ProcessCpuSeconds() - CpuStart_; }

private:
    std::chrono::steady_clock::time_point Start_ = std::chrono::steady_clock::now();
    double CpuStart_ = ProcessCpuSeconds();
};

// Seconds to scan what source reads (a folder or an image, as a drive holds it) into a new
// collection; count receives the folders and files added. Throws when it cannot be read.
[[nodiscard]] double ScanSeconds(const TDriveSource& source, int32_t& count);
