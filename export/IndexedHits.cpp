#include "export/IndexedHits.h"

#include "browse/FolderListing.h"
#include "collection/CollectionNode.h"
#include "platform/AnsiText.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

namespace {

// The folders above the hits as they are printed, from the disc down: hits come in pre-order,
// so the path of a hit's folder is mostly that of the hit before, or shares its start.
class TFolderPath {
public:
    TFolderPath(const TNameIndex& index, char separator)
        : Index_(index)
        , Separator_(separator)
    {
    }

    // Moves to folder (an entry with a parent, or a disc).
    void MoveTo(uint32_t folder)
    {
        if (!Chain_.empty() && Chain_.back().Entry == folder)
            return;
        Climb_.clear();
        size_t kept = 0;
        for (uint32_t at = folder;;) {
            const auto known = std::find_if(Chain_.begin(), Chain_.end(),
                                            [at](const TStep& step) { return step.Entry == at; });
            if (known != Chain_.end()) {
                kept = static_cast<size_t>(known - Chain_.begin()) + 1;
                break;
            }
            const TNameIndex::TItem item = Index_.Item(at);
            Climb_.push_back({at, item.Name, 0});
            if (item.Parent == TNameIndex::NoParent)
                break; // a disc the chain did not hold: the chain starts anew
            at = item.Parent;
        }
        Chain_.resize(kept);
        Path_.resize(kept == 0 ? 0 : Chain_.back().PathEnd);
        for (auto step = Climb_.rbegin(); step != Climb_.rend(); ++step) {
            if (!Chain_.empty()) { // the disc's own name is no part of a path
                Path_ += Separator_;
                Path_ += step->Name;
            }
            step->PathEnd = Path_.size();
            Chain_.push_back(*step);
        }
    }
    // The path of the folder moved to, as TNameIndex::Path gives it, and the name of its disc.
    [[nodiscard]] const std::string& Path() const { return Path_; }
    [[nodiscard]] std::string_view Disc() const { return Chain_.front().Name; }

private:
    struct TStep {
        uint32_t Entry = 0;
        std::string_view Name;
        size_t PathEnd = 0;
    };
    const TNameIndex& Index_;
    const char Separator_;
    std::vector<TStep> Chain_;
    std::vector<TStep> Climb_;
    std::string Path_;
};

// Makes the lines of hits, one thread's worth. A text line starts with the disc and the path of
// the hit's folder, the same for every hit in that folder: made once, and copied for the others.
class TLineMaker {
public:
    TLineMaker(const TNameIndex& index, const THitPrinting& printing)
        : Index_(index)
        , Printing_(printing)
        , Folder_(index, printing.Separator)
    {
    }

    void Append(std::string& out, const uint32_t* first, const uint32_t* last)
    {
        // Hits are far apart in the index and in the collection file: waiting for their memory
        // would be most of the work, so it is asked for some hits ahead.
        constexpr ptrdiff_t kRecordsAhead = 16;
        constexpr ptrdiff_t kLinesAhead = 8;
        for (const uint32_t* hit = first; hit != last; ++hit) {
            if (last - hit > kRecordsAhead)
                Index_.PrefetchRecord(hit[kRecordsAhead]);
            if (last - hit > kLinesAhead)
                Index_.PrefetchLine(hit[kLinesAhead]);
            Append(out, *hit);
        }
    }

private:
    void Append(std::string& out, uint32_t hit)
    {
        const TNameIndex::TItem item = Index_.Item(hit);
        const std::optional<TCalendarTime> time =
            FileTimeToLocal(static_cast<uint32_t>(item.Time >> 32),
                            static_cast<uint32_t>(item.Time), Printing_.UtcOffset);
        if (item.Parent == TNameIndex::NoParent) {
            Folder_.MoveTo(hit);
            AppendLine(out, item, {}, time);
            return;
        }
        Folder_.MoveTo(item.Parent);
        // Without escapes each byte of a path is shown on its own (see AppendPrintable), so the
        // shown path of the folder and that of the name, joined, are the shown path of the hit.
        if (Printing_.Form == THitForm::Text && !MayHoldEscapes(item.Name)) {
            if (PrefixFolder_ != item.Parent) {
                PrefixFolder_ = item.Parent;
                PlainPrefix_ = !MayHoldEscapes(Folder_.Path());
                Prefix_.clear();
                AppendPrintable(Prefix_, Folder_.Disc());
                Prefix_ += '\t';
                AppendPrintable(Prefix_, Folder_.Path());
                Prefix_ += Printing_.Separator;
            }
            if (PlainPrefix_) {
                out += Prefix_;
                AppendPrintable(out, item.Name);
                out += '\t';
                char digits[24];
                const std::to_chars_result end =
                    std::to_chars(std::begin(digits), std::end(digits), item.Size);
                out.append(digits, end.ptr);
                out += '\t';
                AppendDateText(out, time);
                out += '\n';
                return;
            }
        }
        Where_.assign(Folder_.Path());
        Where_ += Printing_.Separator;
        Where_ += item.Name;
        AppendLine(out, item, Where_, time);
    }

    void AppendLine(std::string& out, const TNameIndex::TItem& item, std::string_view where,
                    const std::optional<TCalendarTime>& time) const
    {
        TPrintedHit printed;
        printed.Collection = Printing_.Collection;
        printed.Disc = Folder_.Disc();
        printed.Path = where;
        printed.Name = item.Name;
        printed.Folder = (item.Flags & nfFolder) != 0;
        printed.Size = item.Size;
        printed.Time = time;
        AppendHitLine(out, printed, Printing_.Form);
    }

    const TNameIndex& Index_;
    const THitPrinting& Printing_;
    TFolderPath Folder_;
    uint32_t PrefixFolder_ = TNameIndex::NoParent;
    bool PlainPrefix_ = false;
    std::string Prefix_;
    std::string Where_;
};

// The pieces of lines on their way to the sink: each piece is made by whichever thread takes it
// first, into the place of its number among kPlaces, and handed to the sink by the first thread,
// in order. A piece is taken only when its place is free, so neither thread waits for the other
// while there is a piece it may make.
class TPiecesInTurn {
public:
    static constexpr size_t kPlaces = 4;

    explicit TPiecesInTurn(size_t pieces)
        : Pieces_(pieces)
    {
    }

    // The number of a piece to make, taken now; nothing when there is none left, or when wait is
    // false and no place is free yet. With wait, waits for a free place. Nothing too once the
    // printing has stopped.
    std::optional<size_t> Take(bool wait)
    {
        std::unique_lock lock(Mutex_);
        for (;;) {
            if (Stopped_ || Next_ == Pieces_)
                return std::nullopt;
            if (Next_ < Written_ + kPlaces)
                return Next_++;
            if (!wait)
                return std::nullopt;
            Changed_.wait(lock);
        }
    }
    [[nodiscard]] std::string& Text(size_t piece) { return Places_[piece % kPlaces].Text; }
    void Made(size_t piece)
    {
        {
            const std::lock_guard lock(Mutex_);
            Places_[piece % kPlaces].Made = true;
        }
        Changed_.notify_all();
    }
    // The next piece to hand to the sink, when it is made; with wait, waits for it. Throws what
    // stopped the second thread instead.
    const std::string* NextMade(bool wait)
    {
        std::unique_lock lock(Mutex_);
        for (;;) {
            TPlace& place = Places_[Written_ % kPlaces];
            if (place.Made)
                return &place.Text;
            if (Failure_)
                std::rethrow_exception(Failure_);
            if (!wait)
                return nullptr;
            Changed_.wait(lock);
        }
    }
    // The next piece has reached the sink: its place is free.
    void Written()
    {
        {
            const std::lock_guard lock(Mutex_);
            Places_[Written_ % kPlaces].Made = false;
            ++Written_;
        }
        Changed_.notify_all();
    }
    [[nodiscard]] size_t WrittenCount()
    {
        const std::lock_guard lock(Mutex_);
        return Written_;
    }
    void Failed(std::exception_ptr failure)
    {
        {
            const std::lock_guard lock(Mutex_);
            Failure_ = std::move(failure);
            Stopped_ = true;
        }
        Changed_.notify_all();
    }
    void Stop()
    {
        {
            const std::lock_guard lock(Mutex_);
            Stopped_ = true;
        }
        Changed_.notify_all();
    }

private:
    struct TPlace {
        std::string Text;
        bool Made = false;
    };
    const size_t Pieces_;
    std::mutex Mutex_;
    std::condition_variable Changed_;
    std::array<TPlace, kPlaces> Places_;
    size_t Next_ = 0;    // the next piece to take
    size_t Written_ = 0; // pieces handed to the sink
    bool Stopped_ = false;
    std::exception_ptr Failure_;
};

} // namespace

void PrintIndexedHits(const TNameIndex& index, const std::vector<uint32_t>& hits,
                      const THitPrinting& printing, const TLinesSink& sink)
{
    const size_t perPiece = std::max<size_t>(1, printing.HitsPerPiece);
    const size_t pieces = (hits.size() + perPiece - 1) / perPiece;
    const auto make = [&](TLineMaker& maker, std::string& out, size_t i) {
        out.clear();
        const uint32_t* first = hits.data() + i * perPiece;
        maker.Append(out, first, first + std::min(perPiece, hits.size() - i * perPiece));
    };
    TLineMaker maker(index, printing);
    const auto alone = [&] {
        std::string out;
        for (size_t i = 0; i < pieces; ++i) {
            make(maker, out, i);
            sink(out);
        }
    };
    if (hits.size() < printing.HitsForTwoThreads || pieces < 2 ||
        std::thread::hardware_concurrency() < 2) {
        alone();
        return;
    }

    TPiecesInTurn turns(pieces);
    std::optional<std::jthread> helper;
    try {
        helper.emplace([&] {
            try {
                TLineMaker its(index, printing);
                while (const std::optional<size_t> piece = turns.Take(true)) {
                    make(its, turns.Text(*piece), *piece);
                    turns.Made(*piece);
                }
            } catch (...) {
                turns.Failed(std::current_exception());
            }
        });
    } catch (const std::system_error&) {
        alone(); // no thread to be had: all on this one
        return;
    }
    try {
        // This thread hands each made piece on as soon as it can, and makes pieces meanwhile.
        while (turns.WrittenCount() < pieces) {
            if (const std::string* text = turns.NextMade(false)) {
                sink(*text);
                turns.Written();
            } else if (const std::optional<size_t> piece = turns.Take(false)) {
                try {
                    make(maker, turns.Text(*piece), *piece);
                } catch (...) {
                    // The pieces before this one reach the sink first, as on one thread.
                    turns.Stop();
                    while (turns.WrittenCount() < *piece) {
                        sink(*turns.NextMade(true));
                        turns.Written();
                    }
                    throw;
                }
                turns.Made(*piece);
            } else {
                sink(*turns.NextMade(true));
                turns.Written();
            }
        }
    } catch (...) {
        turns.Stop();
        throw; // the helper is joined on the way out
    }
}
