// Loads arbitrary bytes as a collection file and builds fendrel-mount's tree of it. Whatever the
// collection holds, every entry must have a name a Linux folder can hold (UTF-8, 1 to 255 bytes,
// no "/", neither "." nor ".."), unique among the entries of its folder, by which its folder
// finds it; and an inode number of its own that finds it again. Attributes and extended
// attributes must be told for every entry without fault.
#include "collection/Fendrel.h"
#include "mounttool/CollectionView.h"
#include "mounttool/MountTree.h"
#include "platform/AnsiText.h"

#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

namespace {

void Check(bool holds)
{
    if (!holds)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto collection = std::make_unique<TFendrel>();
    (void)collection->LoadFromText(std::string_view(reinterpret_cast<const char*>(data), size));
    const auto view = std::make_shared<const TCollectionView>(std::move(collection), 1,
                                                              kMountRootIno, size * 31 + 7);
    const TMountTree tree({{"/x.frl", "x", 0, view}});
    std::set<uint64_t> inos;
    std::vector<uint32_t> folders{0};
    while (!folders.empty()) {
        const uint32_t folder = folders.back();
        folders.pop_back();
        std::set<std::string> names;
        for (const uint32_t id : view->EntriesOf(folder)) {
            const std::string name = view->NameOf(id);
            Check(!name.empty() && name.size() <= kLongestMountName && IsValidUtf8(name));
            Check(name.find('/') == std::string::npos && name != "." && name != "..");
            Check(names.insert(name).second);
            Check(view->Child(folder, name) == id);
            Check(inos.insert(view->InoOf(id)).second);
            Check(view->NodeOf(view->InoOf(id)) == id);
            const TMountEntry entry{0, id};
            (void)tree.Attributes(entry);
            for (const std::string& attribute : tree.AttributeNames(entry))
                Check(tree.Attribute(entry, attribute).has_value());
            if (view->IsFolder(id))
                folders.push_back(id);
        }
    }
    Check(inos.size() == view->Entries());
    return 0;
}
