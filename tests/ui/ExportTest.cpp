// "Экспорт..." of the main window and of the find window: each format read back by an outside
// parser, and writes that fail.
#include "BrowseFixture.h"

#include "export/ExportFile.h"
#include "find/FindResultsModel.h"
#include "find/FindWindow.h"

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>

#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

constexpr uint64_t kFeb2005 = 0x01C5081BE17AFC80ULL; // 1.02.2005 05:07:09 UTC

// What Python's standard library makes of a file: its parsers are the outside readers here.
QJsonDocument Python(const std::string& script, const std::string& path)
{
    QProcess python;
    python.start("python3", {"-c", QString::fromStdString(script), QString::fromStdString(path)});
    EXPECT_TRUE(python.waitForFinished(30000));
    EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    return QJsonDocument::fromJson(python.readAllStandardOutput());
}

std::vector<std::vector<std::string>> CsvRows(const std::string& path)
{
    const QJsonDocument rows =
        Python("import csv, json, sys\n"
               "with open(sys.argv[1], encoding='utf-8-sig', newline='') as f:\n"
               "    print(json.dumps(list(csv.reader(f, strict=True))))\n",
               path);
    std::vector<std::vector<std::string>> result;
    for (const QJsonValue& row : rows.array()) {
        std::vector<std::string> fields;
        for (const QJsonValue& field : row.toArray())
            fields.push_back(field.toString().toStdString());
        result.push_back(fields);
    }
    return result;
}

std::string Content(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class Export : public TBrowseFixture {
protected:
    void SetUp() override
    {
        setenv("TZ", "UTC", 1);
        TBrowseFixture::SetUp();
        Window->CollectionFile = PathOf("discs.frl");
        Docs = Disc("Docs, \"2005\"");
        File(Docs, "readme.txt", 100, kFeb2005);
        Folder1 = Folder(Docs, "日本語 Ünïcødé");
        Big = File(Folder1, "big.iso", 0, kFeb2005);
        C().GetNode(Big).SetFullSize(5'000'000'000);
        std::string control = Ansi("new\nline\tand, \"quotes\"");
        EscapeControlBytes(control);
        C().GetNode(File(Folder1, "x", 7, kFeb2005)).Name = control;
        C().GetNode(File(Folder1, "y", 1)).Name = Utf8ToAnsi("bad\xFF.bin");
        Folder(Folder1, "<empty & folder>");
        Photos = Disc("Фото");
        File(Photos, "море.jpg", 2048, kFeb2005);
        Fill();
    }
    void TearDown() override { unsetenv("TZ"); }

    // Chooses the file and the format (0 CSV, 1 HTML, 2 JSON lines) in the next save dialog.
    void Answer(const std::string& path, size_t format)
    {
        Dialogs.SaveChoiceAnswers.push_back(TSaveChoice{path, format});
    }

    uint32_t Docs = 0, Folder1 = 0, Big = 0, Photos = 0;
};

TEST_F(Export, DiscOfTheSelectedItemToCsv)
{
    SelectNode(Folder1); // any item of the disc exports the whole disc
    Answer(PathOf("docs.csv"), 0);
    Window->Act_Export->trigger();
    ASSERT_EQ(Dialogs.FilteredSaves.size(), 1u);
    EXPECT_EQ(AnsiToUtf8(Dialogs.FilteredSaves[0].Title), "Экспорт");
    ASSERT_EQ(Dialogs.FilteredSaves[0].Filters.size(), 3u);
    EXPECT_EQ(AnsiToUtf8(Dialogs.FilteredSaves[0].Filters[0].Text), "Таблица CSV (*.csv)");
    EXPECT_THAT(Dialogs.Messages, IsEmpty());

    const std::string disc = "Docs, \"2005\"";
    const std::string folder = "\\日本語 Ünïcødé";
    EXPECT_EQ(Content(PathOf("docs.csv")).substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_THAT(
        CsvRows(PathOf("docs.csv")),
        ElementsAre(
            ElementsAre("Диск", "Путь", "Имя", "Тип", "Размер", "Дата"),
            ElementsAre(disc, "\\readme.txt", "readme.txt", "Файл", "100", "2005-02-01 05:07:09"),
            ElementsAre(disc, folder, "日本語 Ünïcødé", "Папка", "5000000008",
                        "1601-01-01 00:00:00"),
            ElementsAre(disc, folder + "\\big.iso", "big.iso", "Файл", "5000000000",
                        "2005-02-01 05:07:09"),
            ElementsAre(disc, folder + "\\new\nline\tand, \"quotes\"", "new\nline\tand, \"quotes\"",
                        "Файл", "7", "2005-02-01 05:07:09"),
            ElementsAre(disc, folder + "\\bad\uFFFD.bin", "bad\uFFFD.bin", "Файл", "1",
                        "1601-01-01 00:00:00"),
            ElementsAre(disc, folder + "\\<empty & folder>", "<empty & folder>", "Папка", "0",
                        "1601-01-01 00:00:00")));
}

TEST_F(Export, CollectionToHtmlAndJsonLines)
{
    SelectNode(0);
    Answer(PathOf("all.html"), 1);
    Window->Act_Export->trigger();
    EXPECT_THAT(Dialogs.Messages, IsEmpty());
    // The names and totals as a browser shows them, and how the lists nest.
    const QJsonDocument page = Python(
        "import html.parser, json, sys\n"
        "class P(html.parser.HTMLParser):\n"
        "    def __init__(self):\n"
        "        super().__init__(); self.depth = 0; self.names = []; self.where = None\n"
        "        self.tags = set(); self.totals = []\n"
        "    def handle_starttag(self, tag, attrs):\n"
        "        self.tags.add(tag)\n"
        "        if tag == 'details': self.depth += 1\n"
        "        a = dict(attrs)\n"
        "        if a.get('class') == 'n': self.where = 'n'; self.names.append([self.depth, '', "
        "a.get('data-bytes')])\n"
        "        if a.get('class') in ('t', 'total'): self.where = 't'; self.totals.append('')\n"
        "    def handle_endtag(self, tag):\n"
        "        if tag == 'details': self.depth -= 1\n"
        "        if tag in ('span', 'p'): self.where = None\n"
        "    def handle_data(self, data):\n"
        "        if self.where == 'n': self.names[-1][1] += data\n"
        "        if self.where == 't': self.totals[-1] += data\n"
        "p = P(); p.feed(open(sys.argv[1], encoding='utf-8').read()); p.close()\n"
        "print(json.dumps({'names': p.names, 'totals': p.totals, 'script': 'script' in p.tags,"
        " 'depth': p.depth}))\n",
        PathOf("all.html"));
    const QJsonObject result = page.object();
    std::vector<std::string> names;
    for (const QJsonValue& name : result["names"].toArray()) {
        const QJsonArray fields = name.toArray();
        QString shown = QString::number(fields[0].toInt()) + ' ' + fields[1].toString();
        if (!fields[2].isNull())
            shown += ' ' + fields[2].toString();
        names.push_back(shown.toStdString());
    }
    EXPECT_THAT(names, ElementsAre("1 Docs, \"2005\"", "1 readme.txt", "2 日本語 Ünïcødé",
                                   "2 big.iso", "2 new\u240Aline\u2409and, \"quotes\"",
                                   "2 bad\uFFFD.bin YmFk/y5iaW4=", "3 <empty & folder>", "1 Фото",
                                   "1 море.jpg"));
    std::vector<std::string> totals;
    for (const QJsonValue& total : result["totals"].toArray())
        totals.push_back(total.toString().toStdString());
    EXPECT_THAT(totals, ElementsAre("файлов: 4, размер: 5000000108 байт",
                                    "файлов: 3, размер: 5000000008 байт",
                                    "файлов: 0, размер: 0 байт", "файлов: 1, размер: 2048 байт",
                                    "Дисков: 2, файлов: 5, размер: 5000002156 байт"));
    EXPECT_FALSE(result["script"].toBool());
    EXPECT_EQ(result["depth"].toInt(), 0);

    // JSON lines: one object per file and folder, names exact.
    SelectNode(Photos);
    Answer(PathOf("photos.jsonl"), 2);
    Window->Act_Export->trigger();
    const std::string text = Content(PathOf("photos.jsonl"));
    const QJsonObject line = QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
    EXPECT_EQ(line["collection"].toString().toStdString(), PathOf("discs.frl"));
    EXPECT_EQ(line["disc"].toString().toStdString(), "Фото");
    EXPECT_EQ(line["path"].toString().toStdString(), "\\море.jpg");
    EXPECT_EQ(line["size"].toInteger(), 2048);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
}

TEST_F(Export, AWriteThatFailsLeavesNothingAndSaysSo)
{
    const std::string missing = PathOf("no such folder/out.csv");
    Answer(missing, 0);
    Window->Act_Export->trigger();
    EXPECT_THAT(Dialogs.MessageTexts(), ElementsAre("Ошибка при записи файла " + missing));

    // A write that breaks off halfway: the old file stays, and no temporary is left.
    const std::string kept = PathOf("kept.csv");
    std::ofstream(kept) << "old";
    const std::vector<std::string> before = FilesIn(PathOf(""));
    EXPECT_FALSE(
        WriteExportFile(kept, TExportFormat::Csv, [](TExportFormat, const TExportSink& sink) {
            return sink("part") && sink(std::string(2 << 20, 'x')) && false;
        }));
    EXPECT_EQ(Content(kept), "old");
    EXPECT_EQ(FilesIn(PathOf("")), before);
    // A cancelled dialog writes nothing.
    Window->Act_Export->trigger();
    EXPECT_EQ(FilesIn(PathOf("")), before);
}

TEST_F(Export, FindWindowExportsItsRowsAsListed)
{
    Window->Act_Find->trigger();
    TFindWindow* w = Window->FindWindow;
    ASSERT_NE(w, nullptr);
    w->Edit_Pattern->setText("e");
    w->Button_Find->click();
    QElapsedTimer timer;
    timer.start();
    while ((w->Searching() || w->Results->rowCount() == 0) && timer.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    w->Results->sort(TFindResultsModel::SizeColumn, Qt::AscendingOrder);
    Answer(PathOf("found.csv"), 0);
    w->Button_Export->click();
    const auto rows = CsvRows(PathOf("found.csv"));
    std::vector<std::string> names;
    for (const auto& row : rows)
        names.push_back(row.at(2));
    EXPECT_THAT(names,
                ElementsAre("Имя", "<empty & folder>", "new\nline\tand, \"quotes\"", "readme.txt"));
}

} // namespace
