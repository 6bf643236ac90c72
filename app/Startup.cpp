#include "app/Settings.h"
#include "app/uMain.h"

#include "collection/FendrelError.h"
#include "platform/AnsiText.h"
#include "platform/QtText.h"
#include "platform/SettingsStore.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QTimer>
#include <QWindow>

#include <functional>
#include <utility>

namespace {

// Runs a task once the window's first exposure has been delivered to it. Qt draws a window while
// it handles its exposure, so a task posted from here runs with the window on the screen. A window
// that is not exposed in time (one started minimised, or on a display that never says so) runs
// the task all the same.
class TFirstExposureWatch final : public QObject {
public:
    static constexpr int LongestWaitMs = 2000;

    // Owned by the window it watches.
    TFirstExposureWatch(QWindow& window, std::function<void()> task)
        : QObject(&window)
        , Window_(window)
        , Task_(std::move(task))
    {
        window.installEventFilter(this);
        QTimer::singleShot(LongestWaitMs, this, [this] { Run(); });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Expose && Window_.isExposed())
            Run();
        return QObject::eventFilter(watched, event);
    }

private:
    void Run()
    {
        if (Done_)
            return;
        Done_ = true;
        Window_.removeEventFilter(this);
        Task_();
        deleteLater();
    }

    QWindow& Window_; // the parent
    std::function<void()> Task_;
    bool Done_ = false;
};

struct TStoredSettings {
    std::optional<char> Letter;
    std::string LastCollection;
};

// A value of the wrong type makes the settings unreadable.
TStoredSettings FromKey(const TSettingsKey& key)
{
    TStoredSettings stored;
    if (const auto drive = key.find(kDefDriveValue); drive != key.end()) {
        if (drive->second.Type != TSettingsValue::TType::Integer)
            throw ESettingsError("DefDrive is not an integer");
        stored.Letter = static_cast<char>('A' + (drive->second.Integer & 0xFF));
    }
    if (const auto last = key.find(kLastCollectionValue); last != key.end()) {
        if (last->second.Type == TSettingsValue::TType::Integer)
            throw ESettingsError("LastCollection is not a string");
        stored.LastCollection = last->second.Text;
    }
    return stored;
}

} // namespace

std::optional<char> TForm_Main::ReadSettings()
{
    try {
        ISettingsStore& store = Platform_.Settings;
        if (const auto current = store.ReadKey(kCurrentSettingsKey)) {
            TStoredSettings stored = FromKey(*current);
            CollectionFile = stored.LastCollection;
            return stored.Letter;
        }
        const auto legacy = store.ReadKey(kLegacySettingsKey);
        if (!legacy)
            return std::nullopt;
        TStoredSettings stored = FromKey(*legacy);
        CollectionFile = stored.LastCollection;
        TSettingsKey moved;
        if (stored.Letter)
            moved[kDefDriveValue] = TSettingsValue::OfInteger(
                static_cast<uint32_t>(static_cast<unsigned char>(*stored.Letter) - 'A'));
        moved[kLastCollectionValue] = TSettingsValue::OfString(CollectionFile);
        store.WriteValues(kCurrentSettingsKey, moved);
        store.DeleteKeyTree(kLegacySettingsKey);
        return stored.Letter;
    } catch (const ESettingsError&) {
        throw EFendrelError(Ansi("Ошибка инициализации приложения"));
    }
}

void TForm_Main::WriteSettings()
{
    try {
        TSettingsKey values;
        if (DefDriveIndex != -1) {
            const QList<QAction*> drives = MI_SelectDefDrive->actions();
            if (DefDriveIndex < drives.size()) {
                const std::string caption = LiteralCaption(drives[DefDriveIndex]);
                if (!caption.empty())
                    values[kDefDriveValue] = TSettingsValue::OfInteger(
                        static_cast<uint32_t>(static_cast<unsigned char>(caption[0])) - 'A');
            }
        }
        values[kLastCollectionValue] = TSettingsValue::OfString(
            CollectionFile.empty() ? UnopenedLastCollection_ : CollectionFile);
        Platform_.Settings.WriteValues(kCurrentSettingsKey, values);
    } catch (const std::exception&) {
        // Settings that cannot be written are left as they were; the next start reads those.
    }
}

void TForm_Main::FormShow()
{
    // Posted only once the window is exposed: the message then arrives after the window has been
    // drawn, so the user sees the window, and the progress line of a long load, from the start.
    const auto post = [this] {
        QCoreApplication::postEvent(this, new QEvent(WM_STARTUP));
    };
    QWindow* window = windowHandle();
    if (!window || window->isExposed())
        post();
    else
        new TFirstExposureWatch(*window, post);
}

void TForm_Main::WMStartup()
{
    if (!CollectionFile.empty())
        OpenCollectionFile();
    else
        Act_NewCollectionExecute(nullptr);
}

bool TForm_Main::FormCloseQuery()
{
    // A window whose changes are all in its file closes without a question.
    return MayCloseCollection();
}
