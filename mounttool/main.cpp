// fendrel-mount: shows Fendrel's collections as a read-only folder that every file manager and
// tool can browse, and reads a file's bytes from its medium when the medium is there. It never
// writes a collection file, and follows each one as other programs save it.
#include "mounttool/CollectionWatch.h"
#include "mounttool/ContentSource.h"
#include "mounttool/FuseMount.h"
#include "mounttool/MountTree.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <getopt.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kDone = 0;
constexpr int kDoneWithTrouble = 1;
constexpr int kTrouble = 2;

constexpr const char* kFuseDevice = "/dev/fuse";

constexpr const char* kUsage =
    "Использование: fendrel-mount [ПАРАМЕТРЫ] ФАЙЛ.frl... ПАПКА\n"
    "Подключает коллекции Fendrel к ПАПКЕ только для чтения: диски коллекции в ней —\n"
    "папки с их папками и файлами, с размерами и датами, и их видит любая программа.\n"
    "У нескольких коллекций в ПАПКЕ по папке на каждую.\n"
    "\n"
    "Файл читается с его носителя, когда носитель на месте: диск в дисководе,\n"
    "подключённый носитель, образ или папка там, где их добавили. Иначе файл\n"
    "не открывается (ошибка «No medium found»), и копия не выйдет пустой.\n"
    "Когда файл коллекции записывают, ПАПКА показывает новое содержимое.\n"
    "\n"
    "  --no-content  не читать файлы с носителей: открыть файл нельзя никогда\n"
    "  --help        эта справка\n"
    "\n"
    "Расширенные атрибуты: user.fendrel.disc (диск), user.fendrel.path (путь на диске),\n"
    "user.fendrel.xxh128 (контрольная сумма, если записана).\n"
    "Отключить: fusermount3 -u ПАПКА или Ctrl+C.\n"
    "Код выхода: 0 — ПАПКА была подключена и отключена; 1 — так же, но файл коллекции\n"
    "оказался поврежден или недоступен; 2 — ошибка, ПАПКА не подключена.\n";

struct TOptions {
    TFuseMount::TOptions Mount;
    std::vector<std::string> Files;
    std::string Folder;
};

void Complain(const std::string& message)
{
    std::fprintf(stderr, "fendrel-mount: %s\n", message.c_str());
}

[[noreturn]] void UsageError(const std::string& message)
{
    Complain(message);
    std::fprintf(stderr, "Подробнее: fendrel-mount --help\n");
    std::exit(kTrouble);
}

TOptions ParseOptions(int argc, char** argv)
{
    enum : int { NoContent = 256, Help };
    static const option options[] = {
        {"no-content", no_argument, nullptr, NoContent},
        {"help", no_argument, nullptr, Help},
        {nullptr, 0, nullptr, 0},
    };
    TOptions result;
    opterr = 0;
    for (;;) {
        const int option = getopt_long(argc, argv, ":h", options, nullptr);
        if (option == -1)
            break;
        switch (option) {
        case NoContent:
            result.Mount.NoContent = true;
            break;
        case Help:
        case 'h':
            std::fputs(kUsage, stdout);
            std::exit(std::fflush(stdout) == 0 ? kDone : kTrouble);
        default:
            UsageError(std::string("неизвестный параметр ") + argv[optind - 1]);
        }
    }
    if (argc - optind < 2)
        UsageError("нужны хотя бы один ФАЙЛ.frl и ПАПКА");
    result.Files.assign(argv + optind, argv + argc - 1);
    result.Folder = argv[argc - 1];
    if (result.Files.size() > TCollectionView::kMostCollections)
        UsageError("коллекций больше " + std::to_string(TCollectionView::kMostCollections));
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    const TOptions options = ParseOptions(argc, argv);
    if (::access(kFuseDevice, F_OK) != 0) {
        Complain("нет /dev/fuse: ядро не поддерживает FUSE или его модуль не загружен "
                 "(modprobe fuse)");
        return kTrouble;
    }
    struct stat folder {};
    if (::stat(options.Folder.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode)) {
        Complain(options.Folder + ": нет такой папки");
        return kTrouble;
    }

    // Inode numbers are mixed with a number of this run, so that no collection can be made to
    // crowd them.
    const uint64_t seed = (uint64_t{std::random_device()()} << 32) | std::random_device()();
    const std::vector<std::string> names = CollectionFolderNames(options.Files);
    const bool several = options.Files.size() > 1;
    bool troubled = false;
    std::vector<TMountedCollection> collections;
    std::vector<std::pair<std::string, TCollectionIdentity>> watched;
    for (size_t i = 0; i < options.Files.size(); ++i) {
        const std::string& path = options.Files[i];
        TCollectionRead read = ReadCollection(path);
        if (read.Outcome != TMapOutcome::Done) {
            Complain(path + ": " + MapFailureText(read.Outcome, read.Error));
            return kTrouble;
        }
        if (read.Damaged) {
            Complain(path + ": файл коллекции поврежден или имеет неверный формат; показана "
                            "прочитанная часть");
            troubled = true;
        }
        const unsigned number = TMountTree::ViewNumber(i);
        const uint64_t root = several ? TCollectionView::FolderIno(number) : kMountRootIno;
        collections.push_back({path, names[i], static_cast<int64_t>(read.Identity.ModifiedNs),
                               std::make_shared<const TCollectionView>(std::move(read.Collection),
                                                                       number, root, seed)});
        watched.emplace_back(path, read.Identity);
    }

    TContentSource content;
    TFuseMount mount(std::make_shared<const TMountTree>(std::move(collections)), content,
                     options.Mount);
    if (!mount.Mount(options.Folder)) {
        Complain("не удаётся подключить папку " + options.Folder);
        return kTrouble;
    }
    int served = 0;
    bool watchTroubled = false;
    {
        TCollectionWatch watch(std::move(watched), [&](size_t index,
                                                       std::unique_ptr<TFendrel> collection,
                                                       const TCollectionIdentity& identity) {
            const auto tree = mount.Tree();
            auto view = std::make_shared<const TCollectionView>(
                std::move(collection), TMountTree::ViewNumber(index), tree->ViewRoot(index), seed);
            mount.Replace(
                tree->With(index, std::move(view), static_cast<int64_t>(identity.ModifiedNs)),
                index);
        });
        served = mount.Serve();
        watchTroubled = watch.Troubled();
    }
    if (served < 0) {
        Complain(std::string("ошибка FUSE (") + std::strerror(-served) + ")");
        return kTrouble;
    }
    return troubled || watchTroubled ? kDoneWithTrouble : kDone;
}
