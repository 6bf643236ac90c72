#include "support/WindowFixture.h"

#include "app/Application.h"
#include "app/Settings.h"
#include "collection/FendrelError.h"

#include <QCoreApplication>
#include <gmock/gmock.h>

namespace {

class Startup : public TWindowFixture {
protected:
    void Store(const char* key, const TSettingsKey& values) { Settings.Keys[key] = values; }
};

TSettingsValue Str(const std::string& text)
{
    return TSettingsValue::OfString(text);
}

// Notes the first paint of any widget of the window.
class TPaintWatch final : public QObject {
public:
    explicit TPaintWatch(const QWidget& window)
        : Window_(window)
    {
        QCoreApplication::instance()->installEventFilter(this);
    }
    bool Painted = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && watched->isWidgetType() &&
            static_cast<QWidget*>(watched)->window() == &Window_)
            Painted = true;
        return false;
    }

private:
    const QWidget& Window_;
};

TEST_F(Startup, FirstRunAsksForANewCollectionOnceTheWindowHasBeenDrawn)
{
    TForm_Main& w = MakeWindow();
    const TPaintWatch paint(w);
    bool drawnBeforeStartup = false;
    Dialogs.OnBox = [&] {
        drawnBeforeStartup = paint.Painted;
    };
    w.show();
    QCoreApplication::sendPostedEvents(&w);
    EXPECT_TRUE(Dialogs.FileDialogs.empty()) << "the start-up waits for the window to be drawn";
    ASSERT_TRUE(ProcessEventsUntil([&] { return !Dialogs.FileDialogs.empty(); }));
    EXPECT_TRUE(drawnBeforeStartup);
    ASSERT_EQ(Dialogs.FileDialogs.size(), 1u);
    EXPECT_TRUE(Dialogs.FileDialogs[0].Save);
    EXPECT_EQ(AnsiToUtf8(Dialogs.FileDialogs[0].Options.Title), "Новая коллекция");
    // Cancelled at start-up: the window closes.
    EXPECT_FALSE(w.isVisible());

    Window.reset();
    ASSERT_TRUE(Settings.Keys.count(kCurrentSettingsKey));
    const TSettingsKey& stored = Settings.Keys[kCurrentSettingsKey];
    EXPECT_EQ(stored.at(kLastCollectionValue), Str(""));
    EXPECT_EQ(stored.count(kDefDriveValue), 0u) << "no drive, so no default drive is stored";
}

TEST_F(Startup, WindowThatIsNeverExposedStillOpensItsFirstCollection)
{
    TForm_Main& w = MakeWindow();
    w.setAttribute(Qt::WA_DontShowOnScreen);
    w.show();
    EXPECT_TRUE(ProcessEventsUntil([&] { return !Dialogs.FileDialogs.empty(); }));
}

TEST_F(Startup, LegacyKeyIsMovedOnce)
{
    Store(kLegacySettingsKey, {{kDefDriveValue, TSettingsValue::OfInteger(5)},
                               {kLastCollectionValue, Str("/discs/old.frl")}});
    Settings.Keys["\\SOFTWARE\\QRS\\Fendrel\\Sub"] = {};
    Settings.Keys["\\SOFTWARE\\QRS\\Other"] = {};
    TForm_Main& w = MakeWindow();
    EXPECT_EQ(w.CollectionFile, "/discs/old.frl");
    EXPECT_EQ(Settings.Keys.count(kLegacySettingsKey), 0u);
    EXPECT_EQ(Settings.Keys.count("\\SOFTWARE\\QRS\\Fendrel\\Sub"), 0u);
    EXPECT_EQ(Settings.Keys.count("\\SOFTWARE\\QRS\\Other"), 1u);
    const TSettingsKey& moved = Settings.Keys.at(kCurrentSettingsKey);
    EXPECT_EQ(moved.at(kDefDriveValue), TSettingsValue::OfInteger(5));
    EXPECT_EQ(moved.at(kLastCollectionValue), Str("/discs/old.frl"));
}

TEST_F(Startup, CurrentKeyWinsAndLegacyKeyIsLeftAlone)
{
    Store(kCurrentSettingsKey, {{kLastCollectionValue, Str("/new.frl")}});
    Store(kLegacySettingsKey, {{kLastCollectionValue, Str("/old.frl")}});
    TForm_Main& w = MakeWindow();
    EXPECT_EQ(w.CollectionFile, "/new.frl");
    EXPECT_EQ(Settings.Keys.at(kLegacySettingsKey).at(kLastCollectionValue), Str("/old.frl"));
}

TEST_F(Startup, ExpandableStringIsReadUnexpanded)
{
    Store(kCurrentSettingsKey,
          {{kLastCollectionValue, {TSettingsValue::TType::ExpandString, 0, "$HOME/a.frl"}}});
    EXPECT_EQ(MakeWindow().CollectionFile, "$HOME/a.frl");
}

TEST_F(Startup, ValueOfTheWrongTypeEndsTheProgramBeforeTheWindowShows)
{
    for (const auto& values :
         {TSettingsKey{{kDefDriveValue, Str("D")}},
          TSettingsKey{{kLastCollectionValue, TSettingsValue::OfInteger(1)}}}) {
        Dialogs.Messages.clear();
        Store(kCurrentSettingsKey, values);
        EXPECT_EQ(CreateMainWindow(Platform()), nullptr);
        ASSERT_EQ(Dialogs.Messages.size(), 1u);
        EXPECT_EQ(Dialogs.Messages[0].Utf8Text(), "Ошибка инициализации приложения.");
        EXPECT_EQ(Dialogs.Messages[0].Utf8Title(), "Fendrel v1.2");
        EXPECT_EQ(Dialogs.Messages[0].Kind, TMessageKind::Error);
    }
}

TEST_F(Startup, RefusedMoveOfTheLegacyKeyIsAnInitialisationError)
{
    Store(kLegacySettingsKey, {{kLastCollectionValue, Str("/old.frl")}});
    Settings.FailWrites = true;
    EXPECT_EQ(CreateMainWindow(Platform()), nullptr);
    EXPECT_EQ(Dialogs.MessageTexts().back(), "Ошибка инициализации приложения.");
    EXPECT_EQ(Settings.Keys.count(kLegacySettingsKey), 1u) << "nothing lost";
}

TEST_F(Startup, SettingsThatCannotBeWrittenAtShutdownAreIgnored)
{
    Store(kCurrentSettingsKey, {{kLastCollectionValue, Str("/kept.frl")}});
    TForm_Main& w = MakeWindow();
    w.CollectionFile = "/other.frl";
    Settings.FailWrites = true;
    EXPECT_NO_THROW(Window.reset());
    EXPECT_EQ(Settings.Keys.at(kCurrentSettingsKey).at(kLastCollectionValue), Str("/kept.frl"));
}

TEST_F(Startup, ClosingNeverAsks)
{
    Store(kCurrentSettingsKey, {{kLastCollectionValue, Str("")}});
    TForm_Main& w = MakeWindow();
    w.show();
    const size_t before = Dialogs.Messages.size();
    EXPECT_TRUE(w.close());
    EXPECT_EQ(Dialogs.Messages.size(), before);
}

TEST_F(Startup, ErrorInAHandlerIsShownAndTheWindowGoesOn)
{
    TForm_Main& w = MakeWindow();
    Dialogs.Messages.clear();
    w.RunGuarded([&] { (void)w.Collection().GetNode(42); });
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Dialogs.Messages[0].Utf8Text(), "Node not found.");
    EXPECT_EQ(Dialogs.Messages[0].Utf8Title(), "Fendrel v1.2");
    EXPECT_EQ(Dialogs.Messages[0].Kind, TMessageKind::Error);
    w.RunGuarded([] { throw EFendrelError(Ansi("Готово!")); });
    EXPECT_EQ(Dialogs.MessageTexts().back(), "Готово!");
    w.RunGuarded([] { throw 42; });
    EXPECT_EQ(Dialogs.MessageTexts().back(), "");
}

TEST(ErrorBox, FullStopIsAddedAfterCharactersAboveThePoint)
{
    EXPECT_EQ(ErrorBoxText("Node not found"), "Node not found.");
    EXPECT_EQ(ErrorBoxText("done."), "done.");
    EXPECT_EQ(ErrorBoxText("what?"), "what?.");
    EXPECT_EQ(ErrorBoxText("wow!"), "wow!");
    EXPECT_EQ(ErrorBoxText("(x)"), "(x)");
    EXPECT_EQ(ErrorBoxText("a-"), "a-");
    EXPECT_EQ(ErrorBoxText(""), "");
    EXPECT_EQ(ErrorBoxText(Ansi("ошибка")), Ansi("ошибка."));
}

} // namespace
