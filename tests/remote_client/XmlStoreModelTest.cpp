// The store's lookups go through an index that its changes keep up to date. A plain tree that walks every
// path the slow way is the reference: after each of many random changes, both must give the same answers,
// also after the document has made a round trip through its file.
#include "StoreTestSupport.h"

#include "Strings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <list>
#include <optional>
#include <random>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

struct TModelNode {
    std::string Name;
    std::optional<std::string> Key;
    std::string Text;
    std::list<TModelNode> Children;
    TModelNode* Parent = nullptr;
};

class TModel {
public:
    TModel() { root_.Name = "Options"; }

    TModelNode* Find(const std::string& path)
    {
        TModelNode* current = &root_;
        for (const auto& [name, value] : Parts(path)) {
            current = Step(*current, name, value);
            if (!current)
                return nullptr;
        }
        return current;
    }

    // Returns the value, "<missing>", "<null>" or "<error>".
    std::string Read(const std::string& path)
    {
        TModelNode* node = Find(path);
        if (!node)
            return "<missing>";
        if (!node->Children.empty())
            return "<error>";
        return node->Text.empty() ? "<null>" : node->Text;
    }

    std::string Set(const std::string& path, const std::string& text)
    {
        TModelNode* node = Find(path);
        if (!node) {
            node = &root_;
            for (const auto& [name, value] : Parts(path)) {
                TModelNode* next = Step(*node, name, value);
                if (!next) {
                    TModelNode& added = node->Children.emplace_back();
                    added.Name = name;
                    if (!value.empty())
                        added.Key = value;
                    added.Parent = node;
                    next = &added;
                }
                node = next;
            }
        }
        if (!node->Children.empty())
            return "<error>";
        node->Text = text;
        return "";
    }

    void DeleteChild(const std::string& path)
    {
        TModelNode* node = Find(path);
        if (!node)
            return;
        auto& siblings = node->Parent->Children;
        for (auto it = siblings.begin(); it != siblings.end(); ++it)
            if (it->Name == node->Name) {
                siblings.erase(it);
                return;
            }
    }

    void RemoveNode(const std::string& path)
    {
        TModelNode* node = Find(path);
        if (!node)
            return;
        auto& siblings = node->Parent->Children;
        for (auto it = siblings.begin(); it != siblings.end(); ++it)
            if (&*it == node) {
                siblings.erase(it);
                return;
            }
    }

    std::optional<std::vector<std::string>> ChildList(const std::string& path)
    {
        TModelNode* node = Find(path);
        if (!node)
            return std::nullopt;
        std::vector<std::string> list;
        for (const TModelNode& c : node->Children)
            list.push_back(c.Children.empty() ? c.Name + "=" + c.Text : c.Name + "=");
        return list;
    }

    // The most children that one element has had so far.
    size_t WidestParent() const { return widest_; }
    void NoteWidths() { widest_ = std::max(widest_, Widest(root_)); }

private:
    static size_t Widest(const TModelNode& node)
    {
        size_t widest = node.Children.size();
        for (const TModelNode& child : node.Children)
            widest = std::max(widest, Widest(child));
        return widest;
    }

    size_t widest_ = 0;
    static std::vector<std::pair<std::string, std::string>> Parts(const std::string& path)
    {
        std::vector<std::pair<std::string, std::string>> parts;
        size_t start = 0;
        for (;;) {
            size_t at = path.find('/', start);
            std::string part = path.substr(start, at == std::string::npos ? std::string::npos : at - start);
            size_t eq = part.find('=');
            parts.emplace_back(part.substr(0, eq), eq == std::string::npos ? "" : part.substr(eq + 1));
            if (at == std::string::npos)
                return parts;
            start = at + 1;
        }
    }

    static TModelNode* Step(TModelNode& parent, const std::string& name, const std::string& value)
    {
        auto it = parent.Children.begin();
        while (it != parent.Children.end() && it->Name != name)
            ++it;
        if (it == parent.Children.end())
            return nullptr;
        if (value.empty())
            return &*it;
        for (; it != parent.Children.end(); ++it)
            if (it->Key && *it->Key == value)
                return &*it;
        return nullptr;
    }

    TModelNode root_;
};

std::string StoreRead(IXMLOptions& store, const std::string& path)
{
    try {
        TOptionValue v = store.GetValue(path);
        if (v.IsMissing())
            return "<missing>";
        return v.IsNull() ? "<null>" : WideToAnsi(v.ToText());
    } catch (const EXMLDocError&) {
        return "<error>";
    }
}

std::string StoreSet(IXMLOptions& store, const std::string& path, const std::string& text)
{
    try {
        store.SetValue(path, AnsiToWide(text));
        return "";
    } catch (const EXMLDocError&) {
        return "<error>";
    }
}

} // namespace

// Two kinds of documents: elements with a few children, which are searched along them, and elements with many
// (twenty and more, of twelve names and eight keys), which get an index once they pass a size and keep it.
TEST(XmlStoreIndex, AgreesWithAPlainWalkThroughRandomChanges)
{
    struct Case {
        std::vector<std::string> names;
        std::vector<std::string> keys;
        size_t widestAtLeast;
    };
    const Case cases[] = {
        {{"A", "B", "C"}, {"x", "y"}, 3},
        {{"A", "B", "C", "D", "E", "F", "G", "H", "I", "J", "K", "L"}, {"x", "y", "z", "u", "w", "q", "r", "s"}, 24},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.names.size());
        TTestFolder folder;
        const std::string file = folder.AnsiFile(L"Settings.xml");
        ComPtr<IXMLOptions> store = OpenStore(file);
        TModel model;
        const bool wide = c.names.size() > 3;

        std::mt19937 random(20240611);
        auto pick = [&](size_t n) { return static_cast<size_t>(random() % static_cast<unsigned>(n)); };
        auto randomPath = [&] {
            std::string path;
            size_t depth = 1 + pick(3);
            for (size_t i = 0; i < depth; ++i) {
                if (i)
                    path += '/';
                // The first step mostly at the root's first names, so that the elements under the root fill up.
                path += c.names[i == 0 ? pick(std::min<size_t>(2, c.names.size())) : pick(c.names.size())];
                if (pick(10) < (i == 0 ? 2u : 4u))
                    path += "=" + c.keys[pick(c.keys.size())];
            }
            return path;
        };

        for (int step = 0; step < 4000; ++step) {
            const std::string path = randomPath();
            switch (pick(10)) {
            case 0:
            case 1:
            case 2:
            case 3: {
                std::string text = pick(8) == 0 ? "" : "v" + std::to_string(step);
                ASSERT_EQ(StoreSet(*store.Get(), path, text), model.Set(path, text))
                    << "set " << path << " at " << step;
                break;
            }
            case 4:
            case 5:
                // The wide document first fills up, then loses elements too.
                if (!wide || step >= 2000) {
                    store->DeleteChild(path);
                    model.DeleteChild(path);
                }
                break;
            case 6:
                if (!wide || step >= 2000) {
                    store->RemoveNode(path);
                    model.RemoveNode(path);
                }
                break;
            default: break;
            }
            for (int probe = 0; probe < 3; ++probe) {
                const std::string p = randomPath();
                ASSERT_EQ(StoreRead(*store.Get(), p), model.Read(p)) << "read " << p << " at " << step;
                ASSERT_EQ(store->GetChildList(p), model.ChildList(p)) << "list " << p << " at " << step;
            }
            if (step % 100 == 99)
                model.NoteWidths();
            if (step % 1000 == 999) {
                store->Save();
                store = OpenStore(file);
            }
        }
        for (const std::string& a : c.names) {
            ASSERT_EQ(store->GetChildList(a), model.ChildList(a));
            for (const std::string& b : c.names)
                ASSERT_EQ(store->GetChildList(a + "/" + b), model.ChildList(a + "/" + b));
        }
        EXPECT_GE(model.WidestParent(), c.widestAtLeast);
    }
}
