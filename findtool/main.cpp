// fendrel-find: searches Fendrel's collection files from a terminal and prints one line per
// file or folder found. It only reads the files, under the shared lock that keeps it from
// seeing a save half done.
#include "browse/FolderListing.h"
#include "collection/Fendrel.h"
#include "export/HitOutput.h"
#include "export/IndexedHits.h"
#include "platform/AnsiText.h"
#include "platform/LocalTime.h"
#include "search/Copies.h"
#include "search/FindQuery.h"
#include "search/FindSnapshot.h"
#include "search/NameIndexStore.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <getopt.h>
#include <string>
#include <vector>

namespace {

constexpr int kFound = 0;
constexpr int kNothingFound = 1;
constexpr int kTrouble = 2;

// A save of a big collection takes a few seconds at most; that long is worth waiting for.
constexpr std::chrono::milliseconds kLockWait{3000};

constexpr const char* kUsage =
    "Использование: fendrel-find [ПАРАМЕТРЫ] ОБРАЗЕЦ ФАЙЛ.frl...\n"
    "Ищет файлы и папки в коллекциях Fendrel и выводит по строке на каждую находку:\n"
    "диск<TAB>путь<TAB>размер<TAB>дата, в кодировке UTF-8.\n"
    "\n"
    "Без --glob и --regex имя должно содержать ОБРАЗЕЦ. Регистр букв не важен.\n"
    "  --glob             ОБРАЗЕЦ описывает имя целиком: * — любые символы, ? — один символ\n"
    "  --regex            ОБРАЗЕЦ — регулярное выражение, которое ищется в имени\n"
    "  --size-min=РАЗМЕР  не меньше РАЗМЕРа: число байтов, можно с k, M или G (700M)\n"
    "  --size-max=РАЗМЕР  не больше РАЗМЕРа\n"
    "  --date-min=ДАТА    изменён не раньше дня ДАТА (2005-02-01 или 1.02.2005)\n"
    "  --date-max=ДАТА    изменён не позже дня ДАТА\n"
    "  --files            только файлы\n"
    "  --folders          только папки\n"
    "  --separator=/      разделитель папок в пути: / или \\ (так по умолчанию)\n"
    "  --json             по объекту JSON на строку\n"
    "  --csv              таблица CSV: Диск, Путь, Имя, Тип, Размер, Дата\n"
    "\n"
    "Поиск копий (ОБРАЗЕЦ не указывается, только ФАЙЛЫ.frl):\n"
    "  --duplicates       файлы, которые есть в коллекции больше одного раза, группами:\n"
    "                     группы разделены пустой строкой (в JSON — поле group);\n"
    "                     без --size-min ищутся файлы от 1M\n"
    "  --unique[=ДИСК]    файлы диска ДИСК (без него — каждого диска), копий которых нет\n"
    "                     на других дисках\n"
    "Копии — файлы с одинаковой контрольной суммой, а если у одного из них её нет,\n"
    "с одинаковыми именем (без учёта регистра) и размером.\n"
    "  --help             эта справка\n"
    "\n"
    "Размер папки — сумма размеров всех файлов в ней. Дата — местное время.\n"
    "Код выхода: 0 — найдено, 1 — ничего не найдено, 2 — ошибка.\n";

enum class TCopiesKind { None, Duplicates, Unique };

struct TOptions {
    TFindConditions Conditions;
    THitForm Form = THitForm::Text;
    TCopiesKind Copies = TCopiesKind::None;
    std::optional<std::string> UniqueDisc; // --unique=DISC: the disc's title, UTF-8
    char Separator = '\\';
    std::vector<std::string> Files;
};

void Complain(const std::string& message)
{
    std::fprintf(stderr, "fendrel-find: %s\n", message.c_str());
}

[[noreturn]] void UsageError(const std::string& message)
{
    Complain(message);
    std::fprintf(stderr, "Подробнее: fendrel-find --help\n");
    std::exit(kTrouble);
}

std::optional<uint64_t> SizeArgument(const char* name, const char* text)
{
    const std::optional<uint64_t> size = ParseSize(text);
    if (!size)
        UsageError(std::string("неверный размер в ") + name + ": " + text);
    return size;
}

// "2005-02-01" or "1.02.2005": the bound of that local day.
std::optional<uint64_t> DateArgument(const char* name, const char* text, bool end)
{
    int year = 0;
    int month = 0;
    int day = 0;
    int used = -1;
    const size_t length = std::strlen(text);
    if (!((std::sscanf(text, "%4d-%2d-%2d%n", &year, &month, &day, &used) == 3 &&
           static_cast<size_t>(used) == length) ||
          (std::sscanf(text, "%2d.%2d.%4d%n", &day, &month, &year, &used) == 3 &&
           static_cast<size_t>(used) == length)))
        used = -1;
    const int64_t offset = UtcOffsetNow();
    const std::optional<uint64_t> bound = used < 0
                                              ? std::nullopt
                                              : (end ? LocalDayEnd(year, month, day, offset)
                                                     : LocalDayStart(year, month, day, offset));
    if (!bound)
        UsageError(std::string("неверная дата в ") + name + ": " + text);
    return bound;
}

TOptions ParseOptions(int argc, char** argv)
{
    enum : int {
        Glob = 256,
        Regex,
        SizeMin,
        SizeMax,
        DateMin,
        DateMax,
        Files,
        Folders,
        Json,
        Csv,
        Separator,
        Help,
        Duplicates,
        Unique
    };
    static const option options[] = {
        {"glob", no_argument, nullptr, Glob},
        {"regex", no_argument, nullptr, Regex},
        {"size-min", required_argument, nullptr, SizeMin},
        {"size-max", required_argument, nullptr, SizeMax},
        {"date-min", required_argument, nullptr, DateMin},
        {"date-max", required_argument, nullptr, DateMax},
        {"files", no_argument, nullptr, Files},
        {"folders", no_argument, nullptr, Folders},
        {"json", no_argument, nullptr, Json},
        {"csv", no_argument, nullptr, Csv},
        {"separator", required_argument, nullptr, Separator},
        {"help", no_argument, nullptr, Help},
        {"duplicates", no_argument, nullptr, Duplicates},
        {"unique", optional_argument, nullptr, Unique},
        {nullptr, 0, nullptr, 0},
    };
    TOptions result;
    TFindConditions& c = result.Conditions;
    bool matchGiven = false;
    bool kindGiven = false;
    bool formGiven = false;
    opterr = 0;
    for (;;) {
        const int option = getopt_long(argc, argv, ":h", options, nullptr);
        if (option == -1)
            break;
        switch (option) {
        case Glob:
        case Regex:
            if (matchGiven)
                UsageError("--glob и --regex исключают друг друга");
            matchGiven = true;
            c.Match = option == Glob ? TFindMatch::Wildcard : TFindMatch::RegularExpression;
            break;
        case SizeMin:
            c.SizeMin = SizeArgument("--size-min", optarg);
            break;
        case SizeMax:
            c.SizeMax = SizeArgument("--size-max", optarg);
            break;
        case DateMin:
            c.TimeMin = DateArgument("--date-min", optarg, false);
            break;
        case DateMax:
            c.TimeMax = DateArgument("--date-max", optarg, true);
            break;
        case Files:
        case Folders:
            if (kindGiven)
                UsageError("--files и --folders исключают друг друга");
            kindGiven = true;
            c.Kinds = option == Files ? TFindKinds::FilesOnly : TFindKinds::FoldersOnly;
            break;
        case Json:
        case Csv:
            if (formGiven)
                UsageError("--json и --csv исключают друг друга");
            formGiven = true;
            result.Form = option == Json ? THitForm::Json : THitForm::Csv;
            break;
        case Separator:
            if (std::strcmp(optarg, "/") != 0 && std::strcmp(optarg, "\\") != 0)
                UsageError(std::string("разделитель может быть только / или \\, а не ") + optarg);
            result.Separator = optarg[0];
            break;
        case Duplicates:
        case Unique:
            if (result.Copies != TCopiesKind::None)
                UsageError("--duplicates и --unique исключают друг друга");
            result.Copies = option == Duplicates ? TCopiesKind::Duplicates : TCopiesKind::Unique;
            if (optarg)
                result.UniqueDisc = optarg;
            break;
        case Help:
        case 'h':
            std::fputs(kUsage, stdout);
            std::exit(std::fflush(stdout) == 0 ? 0 : kTrouble);
        case ':':
            UsageError(std::string("у параметра ") + argv[optind - 1] + " нет значения");
        default:
            UsageError(std::string("неизвестный параметр ") + argv[optind - 1]);
        }
    }
    if (result.Copies != TCopiesKind::None) {
        if (matchGiven)
            UsageError("при поиске копий образец имени не указывается");
        if (kindGiven && c.Kinds == TFindKinds::FoldersOnly)
            UsageError("копии ищутся только среди файлов");
        c.Kinds = TFindKinds::FilesOnly;
        if (result.Copies == TCopiesKind::Duplicates && !c.SizeMin)
            c.SizeMin = kDuplicatesDefaultSizeMin;
        if (argc - optind < 1)
            UsageError("нужен хотя бы один ФАЙЛ.frl");
        result.Files.assign(argv + optind, argv + argc);
        return result;
    }
    if (argc - optind < 2)
        UsageError("нужны ОБРАЗЕЦ и хотя бы один ФАЙЛ.frl");
    c.Pattern = argv[optind++];
    result.Files.assign(argv + optind, argv + argc);
    return result;
}

// Searches the collection through its name index and prints the hits. False, having printed
// nothing, when there is no index made from the file as it is now, or the index turns out
// damaged: the file itself is searched then.
bool SearchIndexed(const std::string& path, const std::string& absolute, const TSharedMapping& file,
                   const TOptions& options, TFindQuery& query, int64_t offset, size_t& found)
{
    const std::unique_ptr<TStoredNameIndex> stored = TStoredNameIndex::Open(absolute, file);
    if (!stored)
        return false;
    const TNameIndex& index = stored->Index();
    std::vector<uint32_t> hits;
    try {
        index.Find(query, hits); // reads all that is printed of the hits: nothing throws below
    } catch (const ENameIndexDamaged&) {
        return false;
    }
    THitPrinting printing;
    printing.Collection = path;
    printing.Form = options.Form;
    printing.Separator = options.Separator;
    printing.UtcOffset = offset;
    try {
        PrintIndexedHits(index, hits, printing, [](std::string_view lines) {
            std::fwrite(lines.data(), 1, lines.size(), stdout);
        });
    } catch (const ENameIndexDamaged&) {
        // Find read all of this already; only a file changed under the program gets here.
        std::fflush(stdout);
        Complain(path + ": указатель имён коллекции оказался поврежден во время вывода");
        std::exit(kTrouble);
    }
    found += hits.size();
    return true;
}

// Prints one hit of the snapshot, with its group of copies when group is not 0.
void PrintHit(const TFindSnapshot& snapshot, uint32_t hit, const std::string& path,
              const TOptions& options, int64_t offset, uint32_t group)
{
    const std::string where = snapshot.Path(hit, options.Separator); // printed holds views
    const TPrintedHit printed = PrintedSnapshotHit(snapshot, hit, path, where, offset);
    std::string line;
    AppendHitLine(line, printed, options.Form);
    if (options.Form == THitForm::Json && group != 0)
        line.insert(1, "\"group\":" + std::to_string(group) + ","); // after the opening brace
    std::fwrite(line.data(), 1, line.size(), stdout);
}

// Searches one collection file and prints its hits. False when the file could not be read whole
// or is damaged; the hits in the part read before the damage are printed all the same. Without
// a fitting index the file itself is searched, and its index is made afterwards for next time.
bool SearchFile(const std::string& path, const TOptions& options, TFindQuery& query, int64_t offset,
                size_t& found)
{
    std::unique_ptr<TSharedMapping> file;
    const TMapOutcome outcome = TSharedMapping::Open(path, kLockWait, file);
    if (outcome != TMapOutcome::Done) {
        Complain(path + ": " + MapFailureText(outcome, errno));
        return false;
    }
    const std::string absolute = AbsoluteCollectionPath(path);
    if (SearchIndexed(path, absolute, *file, options, query, offset, found))
        return true;

    auto collection = std::make_unique<TFendrel>();
    const bool loaded = collection->LoadFromText(file->Text());
    if (!loaded)
        Complain(path + ": файл коллекции поврежден или имеет неверный формат; найденное взято "
                        "из прочитанной части");

    {
        const TFindSnapshot snapshot(*collection);
        std::vector<uint32_t> hits;
        FindInSnapshot(snapshot, query, hits);
        for (const uint32_t hit : hits)
            PrintHit(snapshot, hit, path, options, offset, 0);
        found += hits.size();
    } // the snapshot's memory serves the index
    if (loaded) {
        // The answer goes out first; a damaged file gets no index, and is read whole each time.
        std::fflush(stdout);
        (void)StoreNameIndex(absolute, file->Text(), file->Identity(), std::move(collection));
    }
    return loaded;
}

// Reads one collection file into collection, under the shared lock. False when it could not be
// read whole or is damaged; what was read before the damage stays.
bool LoadFile(const std::string& path, TFendrel& collection)
{
    std::unique_ptr<TSharedMapping> file;
    const TMapOutcome outcome = TSharedMapping::Open(path, kLockWait, file);
    if (outcome != TMapOutcome::Done) {
        Complain(path + ": " + MapFailureText(outcome, errno));
        return false;
    }
    const bool loaded = collection.LoadFromText(file->Text());
    if (!loaded)
        Complain(path + ": файл коллекции поврежден или имеет неверный формат; найденное взято "
                        "из прочитанной части");
    return loaded;
}

// The copies search of one collection file: its duplicates, or the files unique to its discs,
// printed as found. Groups are numbered on from group, across the files. discFound is set when
// the file holds the disc --unique names. False when the file could not be read whole.
bool SearchCopiesInFile(const std::string& path, const TOptions& options, TFindQuery& query,
                        int64_t offset, size_t& found, uint32_t& group, bool& discFound)
{
    TFendrel collection;
    const bool loaded = LoadFile(path, collection);
    const TFindSnapshot snapshot(collection);
    TCopiesFound copies;
    if (options.Copies == TCopiesKind::Duplicates) {
        FindDuplicates(snapshot, collection.Checksums, query, copies);
    } else if (!options.UniqueDisc) {
        FindUnique(snapshot, collection.Checksums, query, std::nullopt, copies);
    } else {
        // Every disc of that title: titles need not be unique.
        const std::string title = Utf8ToAnsi(*options.UniqueDisc);
        for (uint32_t i = 0; i < snapshot.size(); ++i) {
            if (snapshot.Entry(i).Parent == TFindSnapshot::NoParent && snapshot.Name(i) == title) {
                discFound = true;
                FindUnique(snapshot, collection.Checksums, query, i, copies);
            }
        }
    }
    uint32_t last = 0;
    for (size_t i = 0; i < copies.Entries.size(); ++i) {
        const uint32_t number = copies.Groups[i];
        if (number != last) {
            if (options.Form == THitForm::Text && group > 0)
                std::fputc('\n', stdout); // an empty line between groups
            ++group;
            last = number;
        }
        PrintHit(snapshot, copies.Entries[i], path, options, offset, number ? group : 0);
    }
    found += copies.Entries.size();
    return loaded;
}

} // namespace

int main(int argc, char** argv)
{
    const TOptions options = ParseOptions(argc, argv);
    std::string error;
    std::optional<TFindQuery> query = TFindQuery::Make(options.Conditions, error);
    if (!query) {
        Complain(AnsiToUtf8(error));
        return kTrouble;
    }

    if (options.Form == THitForm::Csv) {
        std::fwrite(kUtf8ByteOrderMark.data(), 1, kUtf8ByteOrderMark.size(), stdout);
        std::fwrite(CsvHeader().data(), 1, CsvHeader().size(), stdout);
    }
    const int64_t offset = UtcOffsetNow();
    bool trouble = false;
    size_t found = 0;
    if (options.Copies != TCopiesKind::None) {
        uint32_t group = 0;
        bool discFound = false;
        for (const std::string& path : options.Files)
            trouble |= !SearchCopiesInFile(path, options, *query, offset, found, group, discFound);
        if (options.UniqueDisc && !discFound) {
            Complain("в коллекциях нет диска «" + *options.UniqueDisc + "»");
            trouble = true;
        }
    } else {
        for (const std::string& path : options.Files) {
            trouble |= !SearchFile(path, options, *query, offset, found);
            // A pattern the matcher gave up on leaves every later answer in doubt: the search
            // ends there, as a failure, never as names that did not match.
            if (!query->Trouble().empty()) {
                Complain(path + ": " + AnsiToUtf8(query->Trouble()));
                std::fflush(stdout);
                return kTrouble;
            }
        }
    }

    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        Complain(std::string("ошибка при выводе (") + std::strerror(errno) + ")");
        return kTrouble;
    }
    if (trouble)
        return kTrouble;
    return found > 0 ? kFound : kNothingFound;
}
