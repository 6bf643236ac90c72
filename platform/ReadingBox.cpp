#include "platform/ReadingBox.h"

#include "platform/QtText.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QLocale>
#include <QProgressDialog>
#include <QTimer>

#include <exception>
#include <thread>

namespace {

// How long the window waits without a box: a small disc is read before the box would flash.
constexpr int kQuietMs = 400;
constexpr int kRefreshMs = 200;
constexpr int kSteps = 1000;

QString Amount(double bytes)
{
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    if (bytes >= 1024.0 * 1024 * 1024)
        return russian.toString(bytes / (1024.0 * 1024 * 1024), 'f', 1) + QString::fromUtf8(" ГБ");
    return russian.toString(bytes / (1024.0 * 1024), 'f', 1) + QString::fromUtf8(" МБ");
}

// Joins the thread however the wait ends.
class TJoined {
public:
    explicit TJoined(std::function<void()> run)
        : Thread_(std::move(run))
    {
    }
    TJoined(const TJoined&) = delete;
    TJoined& operator=(const TJoined&) = delete;
    ~TJoined() { Thread_.join(); }

private:
    std::thread Thread_;
};

} // namespace

QString ReadingText(uint64_t bytes, uint64_t total, double seconds)
{
    QString text = QString::fromUtf8("Прочитано ") + Amount(static_cast<double>(bytes)) +
                   QString::fromUtf8(" из ") + Amount(static_cast<double>(total));
    if (seconds > 0.0)
        text += '\n' + Amount(static_cast<double>(bytes) / seconds) + QString::fromUtf8("/с");
    return text;
}

void RunReadingBox(QWidget* owner, const std::string& title, uint64_t total,
                   TReadingProgress& progress, const std::function<void()>& work)
{
    std::exception_ptr failure;
    std::atomic<bool> done{false};
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    {
        const TJoined worker([&] {
            try {
                work();
            } catch (...) {
                failure = std::current_exception();
            }
            done = true;
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });

        QTimer quiet;
        quiet.setSingleShot(true);
        QObject::connect(&quiet, &QTimer::timeout, &loop, &QEventLoop::quit);
        quiet.start(kQuietMs);
        loop.exec(QEventLoop::ExcludeUserInputEvents);

        if (!done) {
            QProgressDialog box(owner);
            box.setObjectName("ReadingBox");
            box.setWindowTitle(Display(title));
            box.setWindowModality(Qt::ApplicationModal);
            box.setCancelButtonText(QString::fromUtf8("Отмена"));
            box.setAutoClose(false);
            box.setAutoReset(false);
            box.setMinimumDuration(0);
            box.setRange(0, kSteps);
            box.setMinimumWidth(360);
            const auto refresh = [&] {
                if (box.wasCanceled())
                    progress.Cancel = true;
                if (progress.Cancel)
                    return;
                const uint64_t bytes = progress.Bytes.load(std::memory_order_relaxed);
                box.setLabelText(
                    ReadingText(bytes, total, static_cast<double>(clock.elapsed()) / 1000.0));
                box.setValue(total == 0 ? 0
                                        : static_cast<int>(
                                              std::min<uint64_t>(bytes * kSteps / total, kSteps)));
            };
            QObject::connect(&box, &QProgressDialog::canceled, &box, [&] {
                progress.Cancel = true;
                box.setLabelText(QString::fromUtf8("Остановка..."));
            });
            QTimer timer;
            QObject::connect(&timer, &QTimer::timeout, &box, refresh);
            refresh();
            box.show();
            timer.start(kRefreshMs);
            while (!done)
                loop.exec();
        }
    }
    if (failure)
        std::rethrow_exception(failure);
}
