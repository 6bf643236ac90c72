// "Печать...": a disc's listing printed to PDF offscreen and read back with pdftotext.
#include "BrowseFixture.h"

#include "print/PrintCommand.h"

#include <QAction>
#include <QPageSize>
#include <QPrinter>
#include <QProcess>

#include <gmock/gmock.h>

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

namespace {

constexpr uint64_t kFeb2005 = 0x01C5081BE17AFC80ULL; // 1.02.2005 05:07:09 UTC

// The text of each page of a PDF, as pdftotext reads it.
std::vector<std::string> PdfPages(const std::string& path)
{
    QProcess process;
    process.start("pdftotext", {"-layout", QString::fromStdString(path), "-"});
    EXPECT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    const QString text = QString::fromUtf8(process.readAllStandardOutput());
    std::vector<std::string> pages;
    for (const QString& page : text.split('\f', Qt::SkipEmptyParts))
        if (!page.trimmed().isEmpty())
            pages.push_back(page.toStdString());
    return pages;
}

class Print : public TBrowseFixture {
protected:
    void SetUp() override
    {
        setenv("TZ", "UTC", 1);
        TBrowseFixture::SetUp();
        Disc("Другой диск");
        Docs = Disc("Документы Ωμέγα");
        C().DiscRecords[Docs].Facts.Identity.Label = "DOCS_2005";
        C().DiscRecords[Docs].Added = kFeb2005;
        File(Docs, "Отчёт за год.doc", 5000, kFeb2005);
        const uint32_t folder = Folder(Docs, "Папка Ärger");
        for (int i = 0; i < 60; ++i)
            File(folder, "файл " + std::to_string(i) + ".txt", 1000 + i, kFeb2005);
        Fill();
        Window->Printer->PrintDialog = [this](QPrinter& printer) {
            ++Dialogs_;
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(QString::fromStdString(PathOf("out.pdf")));
            printer.setPageSize(Size);
            return Accept;
        };
    }
    void TearDown() override { unsetenv("TZ"); }

    uint32_t Docs = 0;
    QPageSize Size{QPageSize::A4};
    bool Accept = true;
    int Dialogs_ = 0;
};

TEST_F(Print, DiscListingOnA4)
{
    SelectNode(Docs);
    Window->Act_Print->trigger();
    EXPECT_EQ(Dialogs_, 1);
    const std::vector<std::string> pages = PdfPages(PathOf("out.pdf"));
    ASSERT_EQ(pages.size(), 1u);
    const std::string& page = pages[0];
    for (const char* text : {"Документы Ωμέγα", "стр. 1", "Метка: DOCS_2005", "Добавлен: 1.02.2005",
                             "Папок: 1, файлов: 61", "Отчёт за год.doc", "Папка Ärger",
                             "файл 59.txt", "1.02.2005 05:07"})
        EXPECT_THAT(page, HasSubstr(text));
    EXPECT_THAT(page, Not(HasSubstr("Другой диск")));
}

TEST_F(Print, LongListingOverSeveralCdInserts)
{
    Size = QPageSize(QSizeF(120, 120), QPageSize::Millimeter, "CD", QPageSize::ExactMatch);
    SelectNode(Docs + 2); // a folder of the disc prints the whole disc
    Window->Act_Print->trigger();
    const std::vector<std::string> pages = PdfPages(PathOf("out.pdf"));
    ASSERT_GE(pages.size(), 2u);
    std::string all;
    for (size_t i = 0; i < pages.size(); ++i) {
        // The running header on every insert.
        EXPECT_THAT(pages[i], HasSubstr("Документы Ωμέγα")) << i;
        EXPECT_THAT(pages[i], HasSubstr("стр. " + std::to_string(i + 1))) << i;
        all += pages[i];
    }
    for (int i = 0; i < 60; ++i)
        EXPECT_THAT(all, HasSubstr("файл " + std::to_string(i) + ".txt"));
}

TEST_F(Print, NothingWithoutADiscOrWhenCancelled)
{
    SelectNode(0);
    Window->Act_Print->trigger();
    EXPECT_EQ(Dialogs_, 0);
    EXPECT_THAT(Dialogs.MessageTexts(), ElementsAre("Необходимо выбрать диск"));
    Accept = false;
    SelectNode(Docs);
    Window->Act_Print->trigger();
    EXPECT_EQ(Dialogs_, 1);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(PathOf("out.pdf"))));
}

} // namespace
