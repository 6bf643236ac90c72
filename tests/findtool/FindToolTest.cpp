// fendrel-find run as a program, as a user runs it from a terminal.
#include "platform/AnsiText.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

extern char** environ;

namespace {

struct TRun {
    int Status = -1;
    std::string Out, Err;
};

// 1 February 2005 05:07:09 UTC and a month later, as the two halves of a record.
constexpr const char* kFeb = "01C5081B E17AFC80";
constexpr const char* kMar = "01C51FAE D9DF7C80";

class FindTool : public ::testing::Test {
protected:
    FindTool()
    {
        std::string pattern = (fs::temp_directory_path() / "fendrel-find-XXXXXX").string();
        Folder = ::mkdtemp(pattern.data());
    }
    ~FindTool() override { fs::remove_all(Folder); }

    [[nodiscard]] std::string PathOf(const std::string& name) const { return Folder + "/" + name; }

    // A collection file of the given record lines (UTF-8, stored in code page 1251), CR LF each.
    std::string Collection(const std::string& name, const std::vector<std::string>& lines)
    {
        std::string text = ";Fendrel File v1 begin\r\n";
        for (const std::string& line : lines)
            text += Ansi(line) + "\r\n";
        const std::string path = PathOf(name);
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    // Discs "Фото" and "Backup".
    std::string Sample()
    {
        return Collection("discs.frl", {"D 00000000 00000000 00000000 Фото",
                                        std::string("F ") + kFeb + " 00000000 Лето 2005",
                                        std::string("E ") + kFeb + " 0004A3F2 IMG_0001.JPG",
                                        std::string("E ") + kMar + " 00100000 море.jpg", "<",
                                        std::string("E ") + kMar + " 00000400 readme.txt", "<",
                                        "D 00000000 00000000 00000000 Backup",
                                        std::string("E ") + kFeb + " 00000000 Readme.TXT", "<"});
    }

    // Runs fendrel-find in the zone UTC with the arguments; collects its output.
    TRun Run(const std::vector<std::string>& arguments)
    {
        const std::string out = PathOf("out.txt");
        const std::string err = PathOf("err.txt");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        std::vector<std::string> all{FENDREL_FIND_PROGRAM};
        all.insert(all.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& argument : all)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        std::vector<std::string> environment{"TZ=UTC", "LC_ALL=C"};
        std::vector<char*> envp;
        for (std::string& variable : environment)
            envp.push_back(variable.data());
        envp.push_back(nullptr);

        TRun run;
        pid_t child = 0;
        const int spawned =
            posix_spawn(&child, all[0].c_str(), &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(spawned, 0);
        int status = 0;
        if (spawned == 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status))
            run.Status = WEXITSTATUS(status);
        run.Out = Content(out);
        run.Err = Content(err);
        return run;
    }
    static std::string Content(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static std::vector<std::string> Lines(const std::string& text)
    {
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    std::string Folder;
};

TEST_F(FindTool, PrintsDiscPathSizeAndDatePerHit)
{
    const std::string discs = Sample();
    TRun run = Run({"readme", discs});
    EXPECT_EQ(run.Status, 0);
    EXPECT_THAT(Lines(run.Out), ElementsAre("Фото\t\\readme.txt\t1024\t2005-03-03 05:07:09",
                                            "Backup\t\\Readme.TXT\t0\t2005-02-01 05:07:09"));
    EXPECT_THAT(run.Err, IsEmpty());

    // A folder's size is that of its files; the separator may be a slash.
    run = Run({"--separator=/", "--glob", "*.jpg", discs});
    EXPECT_THAT(Lines(run.Out),
                ElementsAre("Фото\t/Лето 2005/IMG_0001.JPG\t304114\t2005-02-01 05:07:09",
                            "Фото\t/Лето 2005/море.jpg\t1048576\t2005-03-03 05:07:09"));
    run = Run({"--folders", "ЛЕТО", discs});
    EXPECT_THAT(Lines(run.Out), ElementsAre("Фото\t\\Лето 2005\t1352690\t2005-02-01 05:07:09"));

    run = Run({"nothing like it", discs});
    EXPECT_EQ(run.Status, 1);
    EXPECT_THAT(run.Out, IsEmpty());
    EXPECT_THAT(run.Err, IsEmpty());
}

TEST_F(FindTool, ConditionsOnSizeDateAndKind)
{
    const std::string discs = Sample();
    const auto paths = [&](std::vector<std::string> arguments) {
        arguments.push_back("--regex");
        arguments.push_back(".");
        arguments.push_back(discs);
        std::vector<std::string> found;
        for (const std::string& line : Lines(Run(arguments).Out))
            found.push_back(line.substr(line.find('\t') + 1, line.find('\t', line.find('\t') + 1) -
                                                                 line.find('\t') - 1));
        return found;
    };
    EXPECT_THAT(paths({"--size-min=1k", "--size-max", "1M", "--files"}),
                ElementsAre("\\Лето 2005\\IMG_0001.JPG", "\\Лето 2005\\море.jpg", "\\readme.txt"));
    EXPECT_THAT(paths({"--size-min", "1.1M"}), ElementsAre("\\Лето 2005"));
    EXPECT_THAT(paths({"--date-min=2005-03-01", "--files"}),
                ElementsAre("\\Лето 2005\\море.jpg", "\\readme.txt"));
    EXPECT_THAT(paths({"--date-max=1.02.2005"}),
                ElementsAre("\\Лето 2005", "\\Лето 2005\\IMG_0001.JPG", "\\Readme.TXT"));
}

// A file of 5 GiB keeps its whole size in the extension section: its size, its folder's, the
// bounds and the JSON all use it.
TEST_F(FindTool, WholeSizesPast4GiBFromTheExtensionSection)
{
    const std::string discs =
        Collection("big.frl", {"D 00000000 00000000 00000000 Фильмы",
                               std::string("F ") + kFeb + " 00000000 HD",
                               std::string("E ") + kFeb + " 40000000 film.mkv", "<", "<", "<",
                               ";Fendrel extensions v2", "R 0.2 size=5368709120"});
    TRun run = Run({"--size-min=4G", "--regex", ".", discs});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_THAT(Lines(run.Out), ElementsAre(StartsWith("Фильмы\t\\HD\t5368709120\t"),
                                            StartsWith("Фильмы\t\\HD\\film.mkv\t5368709120\t")));
    EXPECT_THAT(Run({"--json", "film", discs}).Out, HasSubstr("\"size\":5368709120"));
    EXPECT_EQ(Run({"--size-max=2G", "--files", "film", discs}).Status, 1);
}

TEST_F(FindTool, NamesThatWouldBreakTheLineAndJson)
{
    // A tab and a lone line feed can stand in a name of a file made elsewhere.
    const std::string odd = Collection(
        "odd.frl",
        {"D 00000000 00000000 00000000 Disc\t\"1\"", "F FFFFFFFF FFFFFFFF 00000000 a\\b",
         std::string("E ") + kFeb + " 00000007 tab\there\nand \"quotes\".txt", "<", "<"});
    TRun run = Run({"here", odd});
    EXPECT_EQ(run.Status, 0);
    EXPECT_THAT(
        Lines(run.Out),
        ElementsAre("Disc?\"1\"\t\\a\\b\\tab?here?and \"quotes\".txt\t7\t2005-02-01 05:07:09"));

    run = Run({"--json", "--separator=/", "here", odd});
    EXPECT_THAT(Lines(run.Out),
                ElementsAre("{\"collection\":\"" + odd +
                            "\",\"disc\":\"Disc\\t\\\"1\\\"\",\"path\":\"/a\\\\b/tab\\there\\nand "
                            "\\\"quotes\\\".txt\",\"name\":\"tab\\there\\nand \\\"quotes\\\".txt\","
                            "\"type\":\"file\",\"size\":7,\"date\":\"2005-02-01 05:07:09\"}"));
    // Control characters of a scanned name, kept as escapes, are written as themselves in JSON;
    // the text shows their pictures, which cannot break its line.
    const std::string scanned = PathOf("scanned.frl");
    std::ofstream(scanned, std::ios::binary)
        << ";Fendrel File v1 begin\r\nD 00000000 00000000 00000000 Disc\r\nE " << kFeb
        << " 00000001 new\x98"
           "00000Aline\r\n<\r\n";
    EXPECT_THAT(Run({"--json", "line", scanned}).Out, HasSubstr("\"name\":\"new\\nline\""));
    EXPECT_THAT(Run({"line", scanned}).Out, HasSubstr("\\new\u240Aline\t1\t"));
    // A time that has no date: no date.
    EXPECT_THAT(Run({"--folders", "", odd}).Out, HasSubstr("\\a\\b\t7\t\n"));
    run = Run({"--json", "--folders", "", odd});
    EXPECT_THAT(run.Out, HasSubstr("\"type\":\"folder\",\"size\":7,\"date\":null}"));
}

TEST_F(FindTool, BadFilesAreReportedAndTheOthersStillSearched)
{
    const std::string discs = Sample();
    const std::string lfOnly = PathOf("lf.frl");
    std::ofstream(lfOnly, std::ios::binary) << ";Fendrel File v1 begin\nD 0 0 0 x\n";
    const std::string cut =
        Collection("cut.frl", {"D 00000000 00000000 00000000 Cut",
                               "E 00000000 00000000 00000001 readme.1st", "E not a record"});
    const std::string missing = PathOf("missing.frl");

    TRun run = Run({"readme", lfOnly, discs, cut, missing, Folder});
    EXPECT_EQ(run.Status, 2);
    // What was read before the damage is searched, as the window shows it.
    EXPECT_THAT(Lines(run.Out), ElementsAre(StartsWith("Фото\t"), StartsWith("Backup\t"),
                                            StartsWith("Cut\t\\readme.1st\t1\t")));
    EXPECT_THAT(Lines(run.Err),
                ElementsAre("fendrel-find: " + lfOnly +
                                ": файл коллекции поврежден или имеет неверный формат; найденное "
                                "взято из прочитанной части",
                            StartsWith("fendrel-find: " + cut + ": файл коллекции поврежден"),
                            StartsWith("fendrel-find: " + missing + ": не удаётся открыть файл"),
                            "fendrel-find: " + Folder + ": это не файл"));
    EXPECT_FALSE(fs::exists(missing)) << "a missing file is never created";
}

TEST_F(FindTool, PatternTheMatcherGivesUpOnIsAnError)
{
    const std::string hard = Collection(
        "hard.frl", {"D 00000000 00000000 00000000 Hard",
                     "E 00000000 00000000 00000001 " + std::string(25, 'a') + "0000!", "<"});
    const std::string discs = Sample();
    const TRun run = Run({"--regex", "((a+)+b|0000!)", hard, discs});
    EXPECT_EQ(run.Status, 2);
    EXPECT_THAT(run.Out, IsEmpty());
    EXPECT_THAT(Lines(run.Err),
                ElementsAre("fendrel-find: " + hard +
                            ": Регулярное выражение «((a+)+b|0000!)» слишком "
                            "сложно: на имени «" +
                            std::string(25, 'a') +
                            "0000!» поиск превысил предел сопоставления и прерван"));
}

TEST_F(FindTool, ReadsWithoutWritingUnderTheSharedLock)
{
    const std::string discs = Sample();
    ::chmod(discs.c_str(), 0444);
    const auto before = fs::last_write_time(discs);
    const std::string content = Content(discs);

    // A save in progress holds the exclusive lock; the search waits for it to end.
    const int writer = ::open(discs.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(writer, LOCK_EX), 0);
    std::thread release([writer] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::close(writer);
    });
    TRun run = Run({"readme", discs});
    release.join();
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(Lines(run.Out).size(), 2u);

    // Another reader's shared lock does not stop it.
    const int reader = ::open(discs.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(reader, LOCK_SH), 0);
    EXPECT_EQ(Run({"readme", discs}).Status, 0);
    ::close(reader);

    EXPECT_EQ(Content(discs), content);
    EXPECT_EQ(fs::last_write_time(discs), before);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(Folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_THAT(names, ElementsAre("discs.frl", "err.txt", "out.txt"));
}

TEST_F(FindTool, GivesUpOnALockThatStays)
{
    const std::string discs = Sample();
    const int writer = ::open(discs.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(writer, LOCK_EX), 0);
    const auto start = std::chrono::steady_clock::now();
    const TRun run = Run({"readme", discs});
    const auto waited = std::chrono::steady_clock::now() - start;
    ::close(writer);
    EXPECT_EQ(run.Status, 2);
    EXPECT_THAT(run.Out, IsEmpty());
    EXPECT_THAT(run.Err, HasSubstr("файл занят"));
    EXPECT_LT(waited, std::chrono::seconds(10));
}

TEST_F(FindTool, WrongUseIsAnErrorWithAMessage)
{
    const std::string discs = Sample();
    const auto fails = [&](const std::vector<std::string>& arguments, const std::string& message) {
        const TRun run = Run(arguments);
        EXPECT_EQ(run.Status, 2) << message;
        EXPECT_THAT(run.Out, IsEmpty()) << message;
        EXPECT_THAT(run.Err, HasSubstr(message));
    };
    fails({"--regex", "(", discs}, "Ошибка в регулярном выражении (позиция 2)");
    fails({"--glob", "--regex", "x", discs}, "исключают друг друга");
    fails({"--files", "--folders", "x", discs}, "исключают друг друга");
    fails({"--size-min=ten", "x", discs}, "неверный размер в --size-min: ten");
    fails({"--size-min=2k", "--size-max=1k", "x", discs}, "Наименьший размер больше наибольшего");
    fails({"--date-min=2005-02-30", "x", discs}, "неверная дата");
    fails({"--separator=|", "x", discs}, "разделитель может быть только / или \\");
    fails({"--verbose", "x", discs}, "неизвестный параметр --verbose");
    fails({"x"}, "нужны ОБРАЗЕЦ и хотя бы один ФАЙЛ.frl");
    fails({"\xC0\xE9", discs}, "не является текстом в кодировке UTF-8");

    const TRun help = Run({"--help"});
    EXPECT_EQ(help.Status, 0);
    EXPECT_THAT(help.Out, StartsWith("Использование: fendrel-find"));
}

// Copies by name and size (a file without a checksum), across discs and files.
TEST_F(FindTool, PrintsDuplicatesInGroupsAndFilesUniqueToADisc)
{
    const std::string discs = Collection(
        "copies.frl",
        {"D 00000000 00000000 00000000 A", std::string("E ") + kFeb + " 00200000 film.avi",
         std::string("E ") + kFeb + " 00300000 only-a.iso",
         std::string("E ") + kFeb + " 00100000 notes.doc", "<", "D 00000000 00000000 00000000 B",
         std::string("E ") + kMar + " 00200000 FILM.AVI",
         std::string("E ") + kFeb + " 00000400 small.txt", "<", "D 00000000 00000000 00000000 C",
         std::string("E ") + kFeb + " 00200000 film.avi",
         std::string("E ") + kFeb + " 00100000 NOTES.doc",
         std::string("E ") + kFeb + " 00000400 small.txt", "<"});
    TRun run = Run({"--duplicates", discs});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_THAT(Lines(run.Out), ElementsAre("A\t\\film.avi\t2097152\t2005-02-01 05:07:09",
                                            "B\t\\FILM.AVI\t2097152\t2005-03-03 05:07:09",
                                            "C\t\\film.avi\t2097152\t2005-02-01 05:07:09", "",
                                            "A\t\\notes.doc\t1048576\t2005-02-01 05:07:09",
                                            "C\t\\NOTES.doc\t1048576\t2005-02-01 05:07:09"));
    // Small files only when asked for; the group number in JSON.
    run = Run({"--duplicates", "--size-min=0", "--json", discs});
    const std::vector<std::string> lines = Lines(run.Out);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_THAT(lines[0], StartsWith("{\"group\":1,\"collection\":"));
    EXPECT_THAT(lines[6], HasSubstr("\"group\":3,"));
    EXPECT_THAT(lines[6], HasSubstr("\"disc\":\"C\",\"path\":\"\\\\small.txt\""));

    run = Run({"--unique=A", discs});
    EXPECT_EQ(run.Status, 0);
    EXPECT_THAT(Lines(run.Out), ElementsAre("A\t\\only-a.iso\t3145728\t2005-02-01 05:07:09"));
    run = Run({"--unique", "--size-min=1M", discs});
    EXPECT_THAT(Lines(run.Out), ElementsAre("A\t\\only-a.iso\t3145728\t2005-02-01 05:07:09"));
    run = Run({"--unique=B", discs});
    EXPECT_EQ(run.Status, 1) << "every file of B has a copy";
    EXPECT_THAT(run.Out, IsEmpty());

    run = Run({"--unique=D", discs});
    EXPECT_EQ(run.Status, 2);
    EXPECT_THAT(run.Err, HasSubstr("нет диска «D»"));
    run = Run({"--duplicates", "--unique", discs});
    EXPECT_EQ(run.Status, 2);
    run = Run({"--duplicates", "--glob", discs});
    EXPECT_EQ(run.Status, 2);
}

} // namespace

TEST_F(FindTool, CsvAndExactJsonOnStandardOutput)
{
    const std::string discs = Sample();
    TRun run = Run({"--csv", "--separator=/", "readme", discs});
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Out, "\xEF\xBB\xBF"
                       "Диск,Путь,Имя,Тип,Размер,Дата\r\n"
                       "Фото,/readme.txt,readme.txt,Файл,1024,2005-03-03 05:07:09\r\n"
                       "Backup,/Readme.TXT,Readme.TXT,Файл,0,2005-02-01 05:07:09\r\n");
    EXPECT_EQ(Run({"--csv", "--json", "x", discs}).Status, 2);

    // Two names that differ only in a byte that is not UTF-8 print differently, each with its
    // exact bytes.
    const std::string raw = PathOf("raw.frl");
    std::ofstream(raw, std::ios::binary)
        << ";Fendrel File v1 begin\r\nD 00000000 00000000 00000000 Disc\r\nE " << kFeb
        << " 00000001 a\x98"
           "00DCFF\r\nE "
        << kFeb << " 00000001 a\x98"
        << "00DCFE\r\n<\r\n";
    const std::vector<std::string> lines = Lines(Run({"--json", "a", raw}).Out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_THAT(lines[0], HasSubstr("\"name\":\"a\uFFFD\",\"name_bytes\":\"Yf8=\""));
    EXPECT_THAT(lines[1], HasSubstr("\"name\":\"a\uFFFD\",\"name_bytes\":\"Yf4=\""));
}
