#include "app/uMain.h"

#include "browse/CollectionTree.h"
#include "collection/NameOrder.h"
#include "platform/AnsiText.h"
#include "platform/QtText.h"

#include <QAction>
#include <QMenu>

#include <algorithm>

// The View menu holds "Новый фильтр...", "Снять фильтр" and the separator, then one entry per
// kept filter, the oldest first. Each entry's 8-bit caption is its key in Filters, and every key
// has exactly one entry: a filter whose entry goes at the limit is forgotten with it, and a
// search that finds nothing is not kept. So the menu never shows a caption twice or an entry
// without hits, and choosing a known string always finds its entry.

namespace {

constexpr int FirstFilterEntry = 3; // the position after the separator
constexpr int MaxFilterEntries = 11;

std::string NewFilterCaption()
{
    return Ansi("Новый фильтр...");
}

// The text with every leading and trailing blank or control byte (0x20 and below) cut off.
std::string TrimBlanks(const std::string& text)
{
    const auto isBlank = [](char c) {
        return static_cast<unsigned char>(c) <= 0x20;
    };
    size_t first = 0;
    size_t last = text.size();
    while (first < last && isBlank(text[first]))
        ++first;
    while (last > first && isBlank(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

QList<QAction*> FilterEntries(const QMenu& menu)
{
    return menu.actions().mid(FirstFilterEntry);
}

QAction* FindFilterEntry(const QMenu& menu, const std::string& filter)
{
    const QList<QAction*> entries = FilterEntries(menu);
    const auto found = std::find_if(entries.begin(), entries.end(), [&](const QAction* entry) {
        return LiteralCaption(entry) == filter;
    });
    return found == entries.end() ? nullptr : *found;
}

void RemoveEntry(QMenu& menu, QAction* entry)
{
    menu.removeAction(entry);
    delete entry;
}

} // namespace

void TForm_Main::Act_NewFilterExecute(QObject*)
{
    const std::optional<std::string> input = Platform_.Dialogs.InputBox(
        NewFilterCaption(), Ansi("Введите строку поиска для фильтра"), {});
    if (!input)
        return;
    std::string filter = TrimBlanks(*input);
    if (filter.empty())
        return;
    filter = FoldName(filter);

    if (const auto known = Filters.find(filter); known != Filters.end()) {
        if (QAction* entry = FindFilterEntry(*MI_View, filter)) {
            ApplyFilterClick(entry);
            return;
        }
        // A key without an entry would be shown nowhere; search for it as a new string.
        Filters.erase(known);
    }

    TCollectionBranch hits;
    if (Collection().FindNodes(filter, hits) == 0) {
        MessageBox(Ansi("По заданному условию ничего не найдено!"), NewFilterCaption(),
                   TMessageKind::Warning);
        return;
    }
    Filters[filter] = std::move(hits);
    AddFilterItem(filter);
    FillTree(Collection(), *TreeView_Main, DisplayPath(CollectionFile));
}

void TForm_Main::AddFilterItem(const std::string& filter)
{
    // Only a kept filter with hits gets an entry, and only one.
    const auto kept = Filters.find(filter);
    if (kept == Filters.end() || kept->second.empty())
        return;
    if (QAction* same = FindFilterEntry(*MI_View, filter))
        RemoveEntry(*MI_View, same);

    UncheckFilterItems();
    auto* entry = new QAction(MI_View);
    SetLiteralCaption(entry, filter);
    entry->setCheckable(true);
    entry->setChecked(true);
    connect(entry, &QAction::triggered, this,
            [this, entry] { RunGuarded([&] { ApplyFilterClick(entry); }); });

    if (FilterEntries(*MI_View).size() >= MaxFilterEntries) {
        QAction* oldest = MI_View->actions().at(FirstFilterEntry);
        Filters.erase(LiteralCaption(oldest));
        RemoveEntry(*MI_View, oldest);
    }
    MI_View->addAction(entry);
}

void TForm_Main::ApplyFilterClick(QObject* sender)
{
    auto* entry = qobject_cast<QAction*>(sender);
    if (!entry || !FilterEntries(*MI_View).contains(entry))
        return;
    const auto kept = Filters.find(LiteralCaption(entry));
    if (kept == Filters.end())
        return;
    UncheckFilterItems();
    entry->setChecked(true);
    Collection().ApplyFilter(kept->second);
    FillTree(Collection(), *TreeView_Main, DisplayPath(CollectionFile));
}

void TForm_Main::Act_NoFilterExecute(QObject*)
{
    UncheckFilterItems();
    Collection().ApplyFilter({});
    FillTree(Collection(), *TreeView_Main, DisplayPath(CollectionFile));
}

void TForm_Main::UncheckFilterItems()
{
    for (QAction* entry : FilterEntries(*MI_View))
        entry->setChecked(false);
}

void TForm_Main::ResetFilters(bool unmarked)
{
    // Marks come only from a search kept in Filters, so without one there are none to clear: the
    // save after adding or removing a disc, when no filter was used, spares a pass over the
    // whole collection.
    const bool mayBeMarked = !unmarked && !Filters.empty();
    Filters.clear();
    while (MI_View->actions().size() > FirstFilterEntry)
        RemoveEntry(*MI_View, MI_View->actions().at(FirstFilterEntry));
    if (mayBeMarked)
        Collection().ApplyFilter({});
    FillTree(Collection(), *TreeView_Main, DisplayPath(CollectionFile));
}
