#include "bench/BenchSupport.h"

#include "platform/CollectionFileStore.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <unistd.h>
#include <vector>

namespace {

std::string RandomName(std::mt19937& random, const char* extension)
{
    static const char letters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_ -";
    std::uniform_int_distribution<int> length(5, 40);
    std::uniform_int_distribution<int> letter(0, sizeof letters - 2);
    std::string name;
    const int total = length(random);
    const int stem = extension ? total - 4 : total;
    for (int i = 0; i < stem; ++i)
        name += letters[letter(random)];
    if (extension)
        name += extension;
    return name;
}

uint64_t StatusField(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == field) {
            uint64_t kib = 0;
            status >> kib;
            return kib * 1024;
        }
        status.ignore(1 << 16, '\n');
    }
    return 0;
}

} // namespace

void FillBenchCollection(TFendrel& collection, const TBenchShape& shape)
{
    std::mt19937 random(shape.Seed);
    static const char* const extensions[] = {".txt", ".jpg", ".mp3", ".doc", ".avi", ".pdf"};
    std::uniform_int_distribution<int> extension(0, 5);
    std::uniform_int_distribution<uint32_t> size(0, 50'000'000);
    std::uniform_int_distribution<uint32_t> timeLow;
    for (int d = 0; d < shape.Discs; ++d) {
        TCollectionNode disc;
        disc.Name = "Disc " + std::to_string(d + 1);
        disc.Flags = nfDisc;
        const uint32_t discId = collection.AddNode(collection.Discs, disc).Id;
        std::vector<uint32_t> folders{discId};
        for (int f = 0; f < shape.FoldersPerDisc; ++f) {
            // Every fourth folder nests inside an earlier one.
            const uint32_t parentId =
                (f % 4 == 3)
                    ? folders[std::uniform_int_distribution<size_t>(0, folders.size() - 1)(random)]
                    : discId;
            TCollectionNode folder;
            folder.Name = RandomName(random, nullptr);
            folder.Flags = nfFolder;
            folder.ParentId = parentId;
            folder.WriteTimeHigh = 0x01D00000;
            folder.WriteTimeLow = timeLow(random);
            folders.push_back(collection.AddNode(collection.GetNode(parentId).Children, folder).Id);
        }
        std::uniform_int_distribution<size_t> anyFolder(0, folders.size() - 1);
        for (int i = 0; i < shape.FilesPerDisc; ++i) {
            const uint32_t parentId = folders[anyFolder(random)];
            TCollectionNode file;
            file.Name = RandomName(random, extensions[extension(random)]);
            file.Flags = nfFile;
            file.ParentId = parentId;
            file.WriteTimeHigh = 0x01D00000;
            file.WriteTimeLow = timeLow(random);
            file.Size = size(random);
            collection.AddNode(collection.GetNode(parentId).Children, file);
        }
        if (shape.DiscRecords) {
            TCollectionNode& last = collection.GetNode(collection.LastId);
            last.SetFullSize(last.FullSize() + (5ULL << 30));
            TDiscRecord& record = collection.DiscRecords[discId];
            record.Facts.Source = {TSourceKind::Image,
                                   "/home/user/images/disc" + std::to_string(d) + ".iso",
                                   "",
                                   4'700'000'000,
                                   133'500'000'000'000'000,
                                   "/",
                                   "ext4"};
            record.Facts.Identity = {"DISC_" + std::to_string(d), "ISO 9660 + Joliet", "SET 1", "",
                                     133'400'000'000'000'000,     2'294'921,           ""};
            record.Facts.Capacity = 4'700'000'000;
            record.Added = 133'500'000'000'000'000 + static_cast<uint64_t>(d);
            record.Notes = "Коробка " + std::to_string(d / 50) + ", полка 3";
        }
    }
    if (shape.BigFolderFiles > 0)
        AddBigFolder(collection, shape.BigFolderFiles);
}

uint32_t AddBigFolder(TFendrel& collection, int files, uint32_t seed)
{
    std::mt19937 random(seed);
    static const char* const extensions[] = {".txt", ".jpg", ".mp3", ".doc", ".avi", ".pdf"};
    std::uniform_int_distribution<int> extension(0, 5);
    std::uniform_int_distribution<uint32_t> size(0, 50'000'000);
    std::uniform_int_distribution<uint32_t> timeLow;
    TCollectionNode disc;
    disc.Name = "Big disc";
    disc.Flags = nfDisc;
    const uint32_t discId = collection.AddNode(collection.Discs, disc).Id;
    TCollectionNode folder;
    folder.Name = "Many files";
    folder.Flags = nfFolder;
    folder.ParentId = discId;
    const uint32_t folderId = collection.AddNode(collection.GetNode(discId).Children, folder).Id;
    for (int i = 0; i < files; ++i) {
        TCollectionNode file;
        file.Name = RandomName(random, extensions[extension(random)]);
        file.Flags = nfFile;
        file.ParentId = folderId;
        file.WriteTimeHigh = 0x01D00000;
        file.WriteTimeLow = timeLow(random);
        file.Size = size(random);
        collection.AddNode(collection.GetNode(folderId).Children, file);
    }
    return folderId;
}

TBenchCollectionFile::TBenchCollectionFile(const TBenchShape& shape)
    : Folder_(MakeTempFolder("fendrel-bench"))
    , Path_(Folder_ + "/bench.frl")
{
    TFendrel collection;
    FillBenchCollection(collection, shape);
    Records_ = collection.LastId;
    TPosixCollectionFileStore store;
    if (store.ReplaceWhole(Path_, collection.SaveToText()) != TFileOutcome::Done)
        throw std::runtime_error("cannot write " + Path_);
}

TBenchCollectionFile::~TBenchCollectionFile()
{
    std::error_code ignored;
    std::filesystem::remove_all(Folder_, ignored);
}

void LoadCollectionFile(TFendrel& collection, const std::string& path)
{
    TPosixCollectionFileStore store;
    std::string text;
    if (store.ReadWhole(path, text) != TFileOutcome::Done)
        throw std::runtime_error("cannot read " + path);
    if (!collection.LoadFromText(text))
        throw std::runtime_error("damaged collection file " + path);
}

double ProcessCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double ThreadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

TBestRun BestOfRuns(int runs, const std::function<void()>& work)
{
    TBestRun best;
    for (int i = 0; i < runs; ++i) {
        const double start = ThreadCpuSeconds();
        const TStopwatch watch;
        work();
        best.Cpu = std::min(best.Cpu, ThreadCpuSeconds() - start);
        best.Wall = std::min(best.Wall, watch.Seconds());
    }
    return best;
}

uint64_t CurrentRssBytes()
{
    return StatusField("VmRSS:");
}

uint64_t PeakRssBytes()
{
    return StatusField("VmHWM:");
}

int MakeFolderTree(const std::string& root, const TFolderTreeShape& shape)
{
    static const char* const pieces[] = {"a", "b", "k", "z", "0", "7",
                                         "_", " ", "Ж", "я", "ё", "Д"};
    std::mt19937 random(2024);
    std::uniform_int_distribution<int> letters(shape.MinNameLetters, shape.MaxNameLetters);
    std::uniform_int_distribution<size_t> piece(0, std::size(pieces) - 1);
    std::uniform_int_distribution<uint32_t> size(0, shape.MaxFileSize);
    const auto name = [&](int serial) {
        std::string text = std::to_string(serial) + shape.Separator;
        for (int i = letters(random); i > 0; --i)
            text += pieces[piece(random)];
        return text;
    };
    int entries = 0;
    for (int top = 0; top < shape.TopFolders; ++top) {
        const std::string folder = root + "/" + name(top);
        std::filesystem::create_directory(folder);
        ++entries;
        for (int sub = 0; sub < shape.Subfolders; ++sub) {
            const std::string subfolder = folder + "/" + name(sub);
            std::filesystem::create_directory(subfolder);
            ++entries;
            for (int file = 0; file < shape.FilesPerSubfolder; ++file) {
                const std::string path = subfolder + "/" + name(file) + ".dat";
                const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                if (fd < 0 || ::ftruncate(fd, size(random)) != 0) // sparse: no data written
                    throw std::runtime_error("cannot make " + path);
                ::close(fd);
                ++entries;
            }
        }
    }
    return entries;
}

std::string MakeTempFolder(const std::string& prefix)
{
    std::string folder = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (!::mkdtemp(folder.data()))
        throw std::runtime_error("cannot make a temporary folder");
    return folder;
}

double CommandSeconds(const std::string& command)
{
    TStopwatch watch;
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("failed: " + command);
    return watch.Seconds();
}

double ScanSeconds(const TDriveSource& source, int32_t& count)
{
    TStopwatch watch;
    TDriveTable drives;
    drives.Add('D', source);
    TFendrel collection;
    const std::unique_ptr<IVolume> volume = drives.OpenVolume('D');
    if (!volume)
        throw std::runtime_error("cannot read " + source.Path);
    count = collection.ScanDisc("bench", *volume);
    return watch.Seconds();
}
