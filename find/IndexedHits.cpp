#include "find/IndexedHits.h"

#include "browse/FolderListing.h"
#include "collection/CollectionNode.h"
#include "platform/AnsiText.h"

#include <algorithm>
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

// The pieces of lines a second thread makes, every other one, in two places that it fills in
// turn while the first thread hands the one before to the sink.
class TSecondPieces {
public:
    // Waits until the place of the k-th piece is free; false when the printing has stopped.
    bool WaitToFill(size_t k)
    {
        std::unique_lock lock(Mutex_);
        Changed_.wait(lock, [&] { return Stopped_ || !Places_[k % 2].Full; });
        return !Stopped_;
    }
    [[nodiscard]] std::string& Text(size_t k) { return Places_[k % 2].Text; }
    void Filled(size_t k)
    {
        {
            const std::lock_guard lock(Mutex_);
            Places_[k % 2].Full = true;
        }
        Changed_.notify_all();
    }
    void Failed(std::exception_ptr failure)
    {
        {
            const std::lock_guard lock(Mutex_);
            Failure_ = std::move(failure);
        }
        Changed_.notify_all();
    }
    // Waits for the k-th piece; throws what stopped the second thread instead.
    const std::string& WaitFilled(size_t k)
    {
        std::unique_lock lock(Mutex_);
        Changed_.wait(lock, [&] { return Failure_ || Places_[k % 2].Full; });
        if (Failure_ && !Places_[k % 2].Full)
            std::rethrow_exception(Failure_);
        return Places_[k % 2].Text;
    }
    void Taken(size_t k)
    {
        {
            const std::lock_guard lock(Mutex_);
            Places_[k % 2].Full = false;
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
        bool Full = false;
    };
    std::mutex Mutex_;
    std::condition_variable Changed_;
    TPlace Places_[2];
    bool Stopped_ = false;
    std::exception_ptr Failure_;
};

} // namespace

void PrintIndexedHits(const TNameIndex& index, const std::vector<uint32_t>& hits,
                      const THitPrinting& printing, const TLinesSink& sink)
{
    const size_t perPiece = std::max<size_t>(1, printing.HitsPerPiece);
    const size_t pieces = (hits.size() + perPiece - 1) / perPiece;
    const auto piece = [&](size_t i) {
        const uint32_t* first = hits.data() + i * perPiece;
        return std::pair(first, first + std::min(perPiece, hits.size() - i * perPiece));
    };
    const auto make = [&](TLineMaker& maker, std::string& out, size_t i) {
        out.clear();
        const auto [first, last] = piece(i);
        maker.Append(out, first, last);
    };
    TLineMaker maker(index, printing);
    std::string own;
    const auto alone = [&] {
        for (size_t i = 0; i < pieces; ++i) {
            make(maker, own, i);
            sink(own);
        }
    };
    if (hits.size() < printing.HitsForTwoThreads || pieces < 2 ||
        std::thread::hardware_concurrency() < 2) {
        alone();
        return;
    }

    // The second thread makes the odd pieces, this one the even ones and hands all to the sink.
    TSecondPieces second;
    std::optional<std::jthread> helper;
    try {
        helper.emplace([&] {
            try {
                TLineMaker its(index, printing);
                for (size_t i = 1; i < pieces; i += 2) {
                    if (!second.WaitToFill(i / 2))
                        return;
                    make(its, second.Text(i / 2), i);
                    second.Filled(i / 2);
                }
            } catch (...) {
                second.Failed(std::current_exception());
            }
        });
    } catch (const std::system_error&) {
        alone(); // no thread to be had: all on this one
        return;
    }
    try {
        for (size_t i = 0; i < pieces; ++i) {
            if (i % 2 == 0) {
                make(maker, own, i);
                sink(own);
            } else {
                sink(second.WaitFilled(i / 2));
                second.Taken(i / 2);
            }
        }
    } catch (...) {
        second.Stop();
        throw; // the helper is joined on the way out
    }
}
